#include "options.h"

namespace handheld {

const char* usageText()
{
    return R"(Usage: orvandel-handheld [OPTION]... SUBCOMMAND [ARG]... [SUBCOMMAND [ARG]...]...

Talks to an Orvandel server the way the handheld player does: connects to the
control port, chooses the data transport, logs in, runs the subcommands in the
order given and ends with Disconnect. Results are printed as key=value lines on
standard output, diagnostics on standard error. Options may appear anywhere.

Connection options:
  --host HOST           server name or IPv4 address (default 127.0.0.1)
  --port PORT           base port P (default 7000): control on P+1, TCP data on
                        P, UDT data on P+2
  --transport MODE      tcp (transport byte 1, default), udt (byte 0),
                        tcp-nomarker (byte 0xFF: TCP without the data marker),
                        or a byte value 0..255 (0 is UDT, others TCP; only 1
                        brings the data marker)
  --timeout SECONDS     limit on every wait for the server (default 30)
  --user NAME           account user name, at most 32 bytes (default empty)
  --password TEXT       account password, at most 32 bytes (default empty)
  --compat HEX          login compatibility mask as 32 hex digits
                        (default 00000000000000000000000000000018)
  --no-login            do not log in before the subcommands
  --no-disconnect       close the connections without sending Disconnect
  --keep-going          run the remaining subcommands after one has failed
  --raw-wait MS         silence that ends the answer to a raw subcommand
                        (default 1500)
  -h, --help            show this text and exit

Stream options (live, file):
  --quality N           quality, the low nibble of the profile byte: 0, 1 or 2;
                        3..15 select the custom bit rate (default 1)
  --size WxH            picture size: 200x200, 320x240, 1024x768 and 480x320
                        use their size class, any other size the custom class 4
                        (default 320x240)
  --size-class N        the high nibble of the profile byte, 0..15, sent as is
  --profile BYTE        the whole profile byte; overrides --quality and the
                        size class
  --bitrate KBPS        custom video bit rate in kbit/s (default 256)
  --codec CODEC         mpeg4 (default), h264, h263, or a selector byte 0..255
  --audio-format BYTE   audio format byte, echoed in the stream header
                        (default 0)
  --cc                  draw closed captions into the picture
  --start SECONDS       start position in the file (default 0)
  --video-stream N      video stream number in the file, -1 = automatic
  --audio-stream N      audio stream number in the file, -1 = automatic
  --subtitle-stream N   subtitle stream number in the file, -1 = none
  --subtitle-file PATH  send SetSubtitleFile with PATH before a file stream
  --seconds N           receive for N seconds, then send StopStream; without it
                        a file stream runs to its end packets and a live stream
                        until Ctrl-C
  --out PREFIX          write the video to PREFIX.m4v, PREFIX.h264 or
                        PREFIX.h263, the audio to PREFIX.mp3 and the subtitle
                        records to PREFIX.subs, one record per line with
                        backslash and control characters escaped (\n, \r,
                        \xNN)

Subcommands:
  login                 send Login and print its result; when given, it
                        replaces the automatic login
  channels              ListChannels: the enabled channels
  channel0              GetChannel0: channel 0 and its description
  ls PATH               ListMediaFolder of a folder, e.g. ls /srv/films; "/"
                        lists the shared folders
  subs PATH             ListSubtitleFolder of a folder
  info PATH             GetFileInfo: the file information record
  live CHANNEL          StartLiveStream, receive the stream, StopStream
  file PATH             SetMediaFile, StartFileStream, receive, StopStream
  record CHANNEL        StartRecording
  stop-record           StopRecording
  clear-record          ClearRecordingFlag
  status                GetRecordingStatus
  monitor CHANNEL       StartMonitoring
  motion                GetMotionStatus
  wait SECONDS          keeps the session open that long (e.g. while monitoring)
  schedules             ListSchedules
  add-schedule CHANNEL START END
                        AddSchedule; START and END as YYYY-MM-DDTHH:MM, each
                        field 0..65535 and sent without calendar checks
  modify-schedule ROW CHANNEL START END
                        ModifySchedule of a row of the last schedule list
  delete-schedule ROW   DeleteSchedule
  captions on|off|BYTE  SetCaptions
  raw HEX...            send the bytes (e.g. "AA EA" or AAEA) on the control
                        connection and print what comes back until --raw-wait
                        of silence

CHANNEL is a signed 32-bit number (out-of-range values are sent as given).

Exit status: 0 when every subcommand succeeded, 1 on a network or protocol
failure, 2 on a bad command line, 3 when the server refused a request.
)";
}

}  // namespace handheld
