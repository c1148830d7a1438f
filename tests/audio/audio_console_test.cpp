// The built program's bridge console with a private PulseAudio server: the
// audio calls a page makes, end to end.
#include "audio_test_support.h"
#include "pulse_server.h"

#include <gtest/gtest.h>
#include <picojson.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kx5;
using namespace kx5::test;

namespace {

// The console as a child process, fed line by line.
class Console {
  public:
    Console(const std::string& home, const std::string& pulseServer) {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            close(in[1]);
            close(out[0]);
            setenv("HOME", home.c_str(), 1);
            setenv("XDG_DATA_HOME", (home + "data").c_str(), 1);
            setenv("XDG_CONFIG_HOME", (home + "config").c_str(), 1);
            setenv("XDG_CACHE_HOME", (home + "cache").c_str(), 1);
            setenv("TMPDIR", home.c_str(), 1);
            setenv("PULSE_SERVER", pulseServer.c_str(), 1);
            execl(KX5_EDITOR, KX5_EDITOR, "--console", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        toChild_ = in[1];
        fromChild_ = out[0];
    }
    ~Console() {
        if (toChild_ >= 0) close(toChild_);
        if (pid_ > 0) {
            int status = 0;
            for (int i = 0; i < 1000 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
                usleep(10000);
            if (waitpid(pid_, &status, WNOHANG) == 0) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
            }
        }
        if (fromChild_ >= 0) close(fromChild_);
    }

    void send(const std::string& line) {
        const std::string text = line + "\n";
        ASSERT_EQ(write(toChild_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    // The value of the next {"r":...}.
    std::string call(const picojson::array& request) {
        send(picojson::value(request).serialize());
        for (std::string line; readLine(line);) {
            const auto [key, value] = parse(line);
            if (key == "r") return value;
            if (key == "e") events_.push_back(value);
        }
        return "(no answer)";
    }
    // Events until one starting with prefix (included).
    std::vector<std::string> eventsUntil(const std::string& prefix) {
        std::vector<std::string> seen;
        for (int round = 0; round < 400; ++round) {
            while (!events_.empty()) {
                seen.push_back(events_.front());
                events_.erase(events_.begin());
                if (seen.back().rfind(prefix, 0) == 0) return seen;
            }
            send("[\"wait\",50]");
            // A wait prints nothing of its own; read what arrived.
            std::string line;
            while (readLine(line, 100)) {
                const auto [key, value] = parse(line);
                if (key == "e") events_.push_back(value);
            }
        }
        return seen;
    }

  private:
    static std::pair<std::string, std::string> parse(const std::string& line) {
        picojson::value v;
        picojson::parse(v, line);
        if (!v.is<picojson::object>() || v.get<picojson::object>().empty()) return {};
        const auto& o = v.get<picojson::object>();
        return {o.begin()->first, o.begin()->second.to_str()};
    }
    bool readLine(std::string& line, int timeoutMs = 30000) {
        for (;;) {
            const size_t nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return true;
            }
            pollfd p{fromChild_, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0) return false;
            char chunk[4096];
            const ssize_t n = read(fromChild_, chunk, sizeof chunk);
            if (n <= 0) return false;
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }

    pid_t pid_ = -1;
    int toChild_ = -1, fromChild_ = -1;
    std::string buffer_;
    std::vector<std::string> events_;
};

picojson::array req(std::initializer_list<std::string> items) {
    picojson::array a;
    for (const auto& s : items)
        a.emplace_back(s);
    return a;
}

} // namespace

TEST(AudioConsole, ListsConvertsAndPlaysThroughTheBridge) {
    PulseServer server;
    ASSERT_TRUE(server.running()) << server.log();
    ScratchDir home;
    Console console(home.path(), server.serverAddress());

    const std::string outputs = console.call(req({"$$audio_outputs"}));
    picojson::value list;
    picojson::parse(list, outputs.substr(1));
    ASSERT_TRUE(list.is<picojson::array>()) << outputs;
    ASSERT_EQ(list.get<picojson::array>().size(), 1u);
    EXPECT_EQ(list.get(0).get("AudioDeviceUIDKey").to_str(), PulseServer::kSink);
    EXPECT_TRUE(list.get(0).get("AudioDeviceCurrentKey").get<bool>());

    const std::string wav = home.file("tone.wav");
    writeWave(wav, {}, pcm16(sine16(11025, 2, 44100)));
    const std::string mp3 = home.file("tone.mp3");
    const std::string description = "{\"file\":" + picojson::value(mp3).serialize() +
                                    ",\"format\":\"mp3\",\"channels\":2,\"samplerate\":44100,"
                                    "\"bitdepth\":16,\"bitrate\":128000}";
    EXPECT_EQ(console.call(req({"$$audio_convert", wav, description})), "v");
    const auto converted = console.eventsUntil("audio\fconverted");
    ASSERT_FALSE(converted.empty());
    ASSERT_EQ(converted.back().rfind("audio\fconverted", 0), 0u);
    EXPECT_EQ(eventFields(converted.back())[2], wav);
    picojson::value format;
    picojson::parse(format, console.call(req({"$$audio_format", mp3})).substr(1));
    EXPECT_EQ(format.get("format").to_str(), "MP3");

    EXPECT_EQ(console.call(req({"$$player_open", mp3})), "b1");
    EXPECT_EQ(console.call(req({"$$player_play"})), "v");
    // Other modules (MIDI) may report in between; the player's own order counts.
    std::vector<std::string> played;
    for (const auto& e : console.eventsUntil("player\feof"))
        if (e.rfind("player\f", 0) == 0) played.push_back(e);
    EXPECT_EQ(played, (std::vector<std::string>{"player\fstop\f" + mp3, "player\feof\f" + mp3}));
}
