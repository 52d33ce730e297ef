#pragma once
// What the "Recording Settings" dialog shows and what its OK stores, apart
// from the widgets.

#include <string>

enum class RecordingQuality { Best, High, Medium, Low };

struct TimeLimitFields {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
};

struct RecordingSetup {
    std::string folder;
    bool limitTime = false;
    TimeLimitFields timeLimit;
    bool limitSize = false;
    int sizeLimitMb = 0;
    RecordingQuality quality = RecordingQuality::Best;
    bool recordOnMotion = false;
    int sizeIndex = 0;
};

constexpr int kRecordingFolderLimit = 256;

TimeLimitFields SplitTimeLimit(int seconds);
int JoinTimeLimit(const TimeLimitFields& fields);

// One spin step over 0..maximum, going round at either end.
int WrapSpinValue(int value, int steps, int maximum);

// Unlisted bit rates show as Best.
RecordingQuality QualityOfVideoBitRate(int videoBitRate);

// The stored settings as the dialog opens with them.
RecordingSetup LoadRecordingSetup();

// OK: -1 after telling the user when the folder is too long, else writes
// everything, saves the settings and returns 0.
int ApplyRecordingSetup(const RecordingSetup& setup);
