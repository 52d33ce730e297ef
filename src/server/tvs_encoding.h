#pragma once
// Converting a media file into a .tvs file: the Encode File dialog's work,
// which the orvandel-tvs tool shares. The file transcoder fills the stream
// rings and the sender writes what it would send into the file. Start and
// finish run on the window thread (the tool's main thread).

#include "platform/owned_file.h"

#include <cstdint>
#include <functional>
#include <string>

constexpr char kNoInputText[] = "Please specify an input file to convert.";
constexpr char kNoOutputText[] = "Please specify an output file.";
constexpr char kOverwriteText[] = "The output file already exists. Would you like to overwrite it?";
constexpr char kStartPastEndText[] =
    "Encoding start time offset is past the end of the input clip. Please specify an earlier start time.";
constexpr char kZeroDurationText[] =
    "Encoding duration should be greater than zero. Please specify a positive duration in timing settings.";
constexpr char kCannotOpenOutputText[] =
    "Could not open the output file for writing. Please make sure you have write permissions to the output folder.";
constexpr char kCouldNotStartText[] = "Encoding could not start. Please try again.";
constexpr char kWriteErrorText[] = "An error occurred while encoding. Please try again.";

struct TvsRequest {
    std::string inputPath;
    std::string outputPath;
    int resolution = 1;  // 0 Low (200x200), 1 Medium (320x240), 2 High (1024x768)
    int bitRate = 1;     // 0 High, 1 Medium, 2 Low
    int startSeconds = 0;
    int endSeconds = 0;  // the end position in the clip
};

// The output path with ".tvs" appended, unless it holds ".tvs" already.
std::string TvsOutputPath(const std::string& path);

// The stream profile byte of the choices: the size class in the high
// nibble, 3 - bit-rate choice (High is the custom rate) in the low one.
uint8_t TvsProfile(int resolution, int bitRate);

struct TvsCheck {
    bool go = false;
    std::string refusal;  // empty when the user declined to overwrite
    int durationSeconds = 0;
};

// The checks of "Start Encoding" before the output is opened, in order:
// the paths (adding ".tvs" to the output), the overwrite question (put to
// confirm) and the timing.
TvsCheck CheckTvsRequest(TvsRequest& request, const std::function<bool(const char* question)>& confirm);

class TvsEncoding {
public:
    TvsEncoding() = default;
    TvsEncoding(const TvsEncoding&) = delete;
    TvsEncoding& operator=(const TvsEncoding&) = delete;
    // A running encoding is finished into a playable, shorter file.
    ~TvsEncoding() { Finish(); }

    // Opens the output, starts the transcoder and then the sender. "" once
    // it runs, or the message that says why not.
    std::string Start(const TvsRequest& request, int durationSeconds);

    bool Running() const { return running_; }
    // Whether the sender has written the end-marked packet.
    bool Done() const;
    // Seconds of the clip written so far, and as a percentage.
    int PositionSeconds() const;
    double Percent() const;

    // Ends the transcoder and the sender and completes the file with its
    // seek index and closing fields. Nothing happens when nothing runs.
    void Finish();

private:
    // Returns message; the log also gets the cause, when there is one.
    std::string Abandon(const char* message, const std::string& cause = "");
    bool WriteHeader();
    void CompleteFile();

    FilePtr file_;
    std::string path_;
    int startSeconds_ = 0;
    int durationSeconds_ = 0;
    bool running_ = false;
};
