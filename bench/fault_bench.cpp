// Soak and fault runs against the real program, headless on the virtual TV
// card, with this bench playing the handheld and, where asked, a web host
// that never answers. Run by hand; each prints its figures:
//
//   fault_bench soak MINUTES          one live stream; memory, descriptors,
//                                     threads and CPU sampled each minute
//   fault_bench replacements COUNT    handhelds replacing each other
//   fault_bench kill-saves COUNT      kill -9 while the settings are saved
//   fault_bench silent-web SECONDS    a web host that accepts, never answers
//   fault_bench stalled-handheld SECONDS
//                                     a handheld that stops reading, then
//                                     resumes; then one that stops and leaves

#include "config/settings.h"
#include "demo_program.h"
#include "server/protocol.h"
#include "support/handheld_link.h"
#include "support/loopback.h"
#include "support/process.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kChannel = 5;
constexpr uint8_t kQuality1At320x240 = 0x11;

// A logged-in handheld with a running live stream of channel 5, its data
// marker read; false when any step failed.
bool StartLiveStream(HandheldLink& link, int port)
{
    return link.Open(port, "demo", "demo") &&
           link.Ask(kStartLiveStream, HandheldLink::LiveRequest(kChannel, kQuality1At320x240), 30000) ==
               kStartLiveStream &&
           link.DrainData(4, 10000) == 4;
}

void PrintProcess(const char* when, pid_t pid)
{
    std::printf("%-16s resident %7ld kB, %3d descriptors, %3d threads\n", when, ResidentKilobytes(pid),
                OpenDescriptors(pid), ThreadCount(pid));
}

int Soak(DemoProgram& program, int minutes)
{
    HandheldLink link;
    if (!StartLiveStream(link, program.port))
        return 1;
    std::printf("minute  resident kB  descriptors  threads  CPU %%  stream kB\n");
    size_t received = 0;
    double cpuBefore = ProcessCpuSeconds(program.pid);
    for (int minute = 1; minute <= minutes; ++minute) {
        const Clock::time_point started = Clock::now();
        while (SecondsSince(started) < 60)
            received += link.DrainData(65536, 1000);
        const double cpu = ProcessCpuSeconds(program.pid);
        std::printf("%6d  %11ld  %11d  %7d  %5.1f  %9zu\n", minute, ResidentKilobytes(program.pid),
                    OpenDescriptors(program.pid), ThreadCount(program.pid), 100 * (cpu - cpuBefore) / 60,
                    received / 1024);
        std::fflush(stdout);
        cpuBefore = cpu;
    }
    const Clock::time_point asked = Clock::now();
    const bool stopped = link.Ask(kStopStream, {}, 10000) == kStopStream;
    std::printf("StopStream answered: %s in %.2f s\n", stopped ? "yes" : "NO", SecondsSince(asked));
    return stopped ? 0 : 1;
}

int Replacements(DemoProgram& program, int count)
{
    PrintProcess("before", program.pid);
    std::vector<std::unique_ptr<HandheldLink>> links;
    int served = 0;
    double slowest = 0;
    for (int i = 0; i < count; ++i) {
        const Clock::time_point asked = Clock::now();
        auto link = std::make_unique<HandheldLink>();
        // The one before stays connected and streaming: the new one takes over.
        if (StartLiveStream(*link, program.port) && link->DrainData(4 + 8384, 10000) > 0)
            ++served;
        slowest = std::max(slowest, SecondsSince(asked));
        links.push_back(std::move(link));
        if (links.size() > 2)
            links.erase(links.begin());
    }
    std::printf("%d of %d handhelds were served; the slowest took over in %.2f s\n", served, count, slowest);
    PrintProcess("after", program.pid);
    links.clear();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    PrintProcess("all gone", program.pid);
    return served == count ? 0 : 1;
}

// Whether the settings file is whole: its length and checksum match.
bool SettingsFileIsReadable(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.size() != kSettingsFileSize)
        return false;
    int32_t stored;
    std::memcpy(&stored, bytes.data(), 4);
    return SettingsChecksum(bytes.data() + 4, bytes.size() - 4) == stored;
}

int KillSaves(DemoProgram& program, int count)
{
    const std::string config = program.folder + "/config/orvandel";
    StopDemoProgram(program);
    std::mt19937 random(1);
    int readable = 0;
    int started = 0;
    for (int i = 0; i < count; ++i) {
        if (!StartDemoProgram(program))
            continue;
        ++started;
        // The program saves its settings as it ends: kill it somewhere in
        // that save.
        kill(program.pid, SIGTERM);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 200000));
        kill(program.pid, SIGKILL);
        waitpid(program.pid, nullptr, 0);
        program.pid = -1;
        readable += SettingsFileIsReadable(config + "/Orvandel.ini") ? 1 : 0;
    }
    std::printf("%d of %d starts, each killed with SIGKILL 0 to 200 ms after SIGTERM: %d settings files readable "
                "afterwards\n",
                started, count, readable);
    const bool serves = StartDemoProgram(program);
    int leftovers = 0;
    for (const auto& entry : std::filesystem::directory_iterator(config))
        leftovers += entry.path().filename().string().starts_with("Orvandel.ini.") ? 1 : 0;
    std::printf("The program starts and serves on those settings afterwards: %s; half-written files left: %d\n",
                serves ? "yes" : "NO", leftovers);
    return readable == started && started == count && serves && leftovers == 0 ? 0 : 1;
}

// The recordings in the demo's folders (its videos folder by default).
std::vector<std::filesystem::path> RecordingsOf(const DemoProgram& program)
{
    std::vector<std::filesystem::path> found;
    for (const std::string& folder : {program.folder, program.folder + "/Videos"}) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("Rec_") || name.starts_with(".Rec_"))
                found.push_back(entry.path());
        }
    }
    return found;
}

double ProbedSeconds(const std::string& path, bool countPictures)
{
    const std::vector<std::string> pictures = {"/usr/bin/ffprobe", "-v", "error", "-select_streams", "v:0",
                                               "-count_frames", "-show_entries", "stream=nb_read_frames,r_frame_rate",
                                               "-of", "default=nw=1", path};
    const std::vector<std::string> length = {"/usr/bin/ffprobe", "-v", "error", "-show_entries", "format=duration",
                                             "-of", "default=nw=1", path};
    const ProcessResult probe = RunProcess(countPictures ? pictures : length, 60000);
    if (!countPictures)
        return std::atof(probe.Value("duration").c_str());
    const std::string rate = probe.Value("r_frame_rate");
    const double perSecond = std::atof(rate.c_str()) / std::max(1.0, std::atof(rate.substr(rate.find('/') + 1).c_str()));
    return perSecond > 0 ? std::atof(probe.Value("nb_read_frames").c_str()) / perSecond : 0;
}

// Records channel 5 and kills the program with SIGKILL at a random moment
// of the first 30 s; counts what a player gets of the file straight away
// and after the next start has repaired it.
int KillRecordings(DemoProgram& program, int count)
{
    std::mt19937 random(7);
    int repaired = 0;
    double worstBefore = 0;
    double worstAfter = 0;
    for (int i = 0; i < count; ++i) {
        HandheldLink link;
        if (!link.Open(program.port, "demo", "demo") || link.Ask(kStartRecording, HandheldLink::Int32(kChannel), 30000) != kStartRecording)
            return 1;
        const double seconds = 1 + double(random() % 29000) / 1000;
        const Clock::time_point started = Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        kill(program.pid, SIGKILL);
        const double killedAt = SecondsSince(started);
        waitpid(program.pid, nullptr, 0);
        program.pid = -1;
        const std::vector<std::filesystem::path> files = RecordingsOf(program);
        const double before = files.size() == 1 ? ProbedSeconds(files[0], true) : 0;
        if (!StartDemoProgram(program))
            return 1;
        const std::vector<std::filesystem::path> after = RecordingsOf(program);
        const double length = after.size() == 1 ? ProbedSeconds(after[0], false) : 0;
        repaired += after.size() == 1 && length > 0 ? 1 : 0;
        worstBefore = std::max(worstBefore, killedAt - before);
        worstAfter = std::max(worstAfter, killedAt - length);
        std::printf("kill %d at %.1f s: %.1f s of pictures before the restart, %.1f s long after it\n", i + 1,
                    killedAt, before, length);
        for (const auto& file : after)
            std::filesystem::remove(file);
    }
    std::printf("%d of %d killed recordings repaired and playable; the largest loss %.2f s before the repair, "
                "%.2f s after it\n",
                repaired, count, worstBefore, worstAfter);
    return repaired == count ? 0 : 1;
}

// Accepts every connection and never answers; notes how long each client
// kept its connection before closing it.
class SilentHost {
public:
    SilentHost()
    {
        listener_ = ListenOnLoopback(16, port_);
        thread_ = std::thread([this] { Serve(); });
    }
    ~SilentHost()
    {
        stop_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    int Port() const { return port_; }
    // Seconds each connection was held open by the client, -1 while it still is.
    std::vector<double> Holds()
    {
        std::lock_guard hold(lock_);
        return holds_;
    }

private:
    void Serve()
    {
        std::vector<std::thread> clients;
        for (int client; !stop_ && (client = ::accept(listener_, nullptr, nullptr)) >= 0;) {
            size_t slot;
            {
                std::lock_guard hold(lock_);
                slot = holds_.size();
                holds_.push_back(-1);
            }
            clients.emplace_back([this, client, slot] {
                const Clock::time_point accepted = Clock::now();
                char request[4096];
                while (!stop_) {
                    // Readable with nothing to read: the client closed its end.
                    if (AnyBytesWithin(client, 200) && ::recv(client, request, sizeof request, 0) <= 0) {
                        std::lock_guard hold(lock_);
                        holds_[slot] = SecondsSince(accepted);
                        break;
                    }
                }
                ::close(client);
            });
        }
        for (std::thread& client : clients)
            client.join();
    }

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<double> holds_;
    std::thread thread_;
};

int SilentWeb(DemoProgram& program, int seconds)
{
    StopDemoProgram(program);
    SilentHost host;
    if (!StartDemoProgram(program, {"ORVANDEL_WEB_HOST=127.0.0.1:" + std::to_string(host.Port())}))
        return 1;
    // The window thread answers every request meanwhile.
    double slowest = 0;
    int answered = 0;
    int asked = 0;
    for (const Clock::time_point started = Clock::now(); SecondsSince(started) < seconds; ++asked) {
        HandheldLink link;
        const Clock::time_point sent = Clock::now();
        if (link.Open(program.port, "demo", "demo") && link.Ask(kListChannels, {}, 10000) == kListChannels)
            ++answered;
        slowest = std::max(slowest, SecondsSince(sent));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    std::printf("%d of %d logins with a channel list answered while the web host was silent; slowest %.2f s\n",
                answered, asked, slowest);
    int index = 0;
    for (double held : host.Holds())
        std::printf("web connection %d: %s\n", ++index,
                    held < 0 ? "still open" : ("given up after " + std::to_string(held) + " s").c_str());
    const double stop = StopDemoProgram(program);
    std::printf("The program ended %s\n", stop < 0 ? "only when killed" : (std::to_string(stop) + " s after SIGTERM").c_str());
    return answered == asked && stop >= 0 ? 0 : 1;
}

int StalledHandheld(DemoProgram& program, int seconds)
{
    HandheldLink reader;
    if (!StartLiveStream(reader, program.port))
        return 1;
    reader.DrainData(200000, 5000);
    std::printf("A handheld stops reading its stream for %d s...\n", seconds);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const Clock::time_point resumed = Clock::now();
    const size_t afterStall = reader.DrainData(4 << 20, 10000);
    std::printf("  then reads again: %zu kB within 10 s, in %.2f s\n", afterStall / 1024, SecondsSince(resumed));
    const Clock::time_point asked = Clock::now();
    const bool stopped = reader.Ask(kStopStream, {}, 10000) == kStopStream;
    std::printf("  StopStream answered: %s in %.2f s\n", stopped ? "yes" : "NO", SecondsSince(asked));

    HandheldLink leaver;
    if (!StartLiveStream(leaver, program.port))
        return 1;
    std::printf("A second one stops reading for %d s and leaves...\n", seconds);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    ::close(leaver.data);
    ::close(leaver.control);
    leaver.data = leaver.control = -1;
    const Clock::time_point next = Clock::now();
    HandheldLink third;
    const bool served = StartLiveStream(third, program.port) && third.DrainData(4 + 8384, 10000) > 0;
    std::printf("  the next handheld is served: %s, in %.2f s\n", served ? "yes" : "NO", SecondsSince(next));
    PrintProcess("afterwards", program.pid);
    return afterStall > 0 && stopped && served ? 0 : 1;
}

int Usage()
{
    std::fprintf(stderr, "usage: fault_bench soak MINUTES | replacements COUNT | kill-saves COUNT | "
                         "silent-web SECONDS | stalled-handheld SECONDS | kill-recordings COUNT\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 || std::atoi(argv[2]) <= 0)
        return Usage();
    const std::string run = argv[1];
    const int amount = std::atoi(argv[2]);
    DemoProgram program;
    if (!StartDemoProgram(program)) {
        std::fprintf(stderr, "fault_bench: the program did not start\n");
        return 1;
    }
    int result = 2;
    if (run == "soak")
        result = Soak(program, amount);
    else if (run == "replacements")
        result = Replacements(program, amount);
    else if (run == "kill-saves")
        result = KillSaves(program, amount);
    else if (run == "silent-web")
        result = SilentWeb(program, amount);
    else if (run == "stalled-handheld")
        result = StalledHandheld(program, amount);
    else if (run == "kill-recordings")
        result = KillRecordings(program, amount);
    if (program.pid > 0) {
        const double stop = StopDemoProgram(program);
        std::printf("Shutdown: %s\n", stop < 0 ? "had to be killed" : (std::to_string(stop) + " s").c_str());
    }
    std::filesystem::remove_all(program.folder);
    return result == 2 ? Usage() : result;
}
