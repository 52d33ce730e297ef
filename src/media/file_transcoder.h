#pragma once
// The file transcoder: turns one media file into the same raw video and
// audio streams as the live encoder, plus subtitle records, for the sender
// to send like live TV or to write into a .tvs file. It runs on a thread of
// its own, which the pipeline starts and cancels on the window thread.
// Nothing of it reaches the disk.

#include "encode/file_producer.h"
#include "encode/pipeline.h"

#include <functional>
#include <string>

struct FileTranscodeJob {
    StreamRequest request;
    std::string mediaPath;
    // A subtitle file, used when the request names a subtitle stream.
    std::string subtitlePath;
    // Seconds of the file to transcode; 0 for all of it.
    int durationLimitSeconds = 0;
    // The sender writes a .tvs file: the file-encoding flag stands in for
    // the streaming flag.
    bool writeToFile = false;
};

// Transcodes job on the calling thread until the end of the input, the
// duration limit or the producer's cancel. Once the stream parameters are
// known it sets the streaming (or file-encoding) flag and reports the file
// open to producer, or why it could not be set up; then it waits until let
// go. 0, or -1 when the file could not be set up.
int TranscodeFile(const FileTranscodeJob& job, FileProducer& producer);

// The file stream's producer as the pipeline starts it, made on the window
// thread: the thread body for request, with the media file and the subtitle
// file the handheld chose.
FileProducer::Body FileTranscoderFor(const StreamRequest& request);
