// SPDX-License-Identifier: GPL-3.0-or-later
// Seconds of audio the codec stream encodes per CPU second, beside the `lame` command-line encoder on
// the same input with the same settings, for the station's default format and for 44.1 kHz stereo
// 128 kbit/s.
#include "audio/TACMConvertor.h"
#include "platform/acm/Codecs.h"
#include "platform/acm/PlatformAcm.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <vector>

extern char** environ;

namespace {

double processCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double childrenCpuSeconds() {
    rusage r{};
    getrusage(RUSAGE_CHILDREN, &r);
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// A programme-like signal: two tones and some noise, 16-bit little-endian interleaved.
QByteArray programme(uint32_t rate, int channels, int seconds) {
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 0.05);
    const uint64_t frames = uint64_t(rate) * seconds;
    QByteArray out(qsizetype(frames * channels * 2), '\0');
    auto* p = reinterpret_cast<uint8_t*>(out.data());
    for (uint64_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        for (int c = 0; c < channels; ++c) {
            const double v = 0.3 * std::sin(2 * M_PI * (220.0 + 110.0 * c) * t) +
                             0.2 * std::sin(2 * M_PI * 1375.0 * t + 0.5 * std::sin(2 * M_PI * 0.7 * t)) +
                             noise(rng);
            const auto s = uint16_t(int16_t(std::lround(std::clamp(v, -1.0, 1.0) * 32767.0)));
            *p++ = uint8_t(s & 0xFF);
            *p++ = uint8_t(s >> 8);
        }
    }
    return out;
}

double stationCpu(const TAudioFormat& in, const TAudioFormat& out, const QByteArray& pcm, qint64* bytesOut) {
    TACMConvertor acmc(std::make_shared<vx::acm::PlatformAcm>());
    acmc.FormatIn = in;
    acmc.FormatOut = out;
    acmc.SetInputBufferSize(int(in.avgBytesPerSec()));
    acmc.SetActive(true);
    *bytesOut = 0;
    const double start = processCpuSeconds();
    for (qsizetype at = 0; at + acmc.InputBufferSize() <= pcm.size(); at += acmc.InputBufferSize()) {
        std::memcpy(acmc.BufferIn(), pcm.constData() + at, std::size_t(acmc.InputBufferSize()));
        *bytesOut += acmc.Convert();
    }
    const double used = processCpuSeconds() - start;
    acmc.SetActive(false);
    return used;
}

// CPU seconds of one `lame` run, or a negative value when it could not run.
double lameCpu(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    const double before = childrenCpuSeconds();
    pid_t pid = 0;
    // Its warning about raw input through libsndfile is noise here.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawnp(&pid, "lame", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return -1.0;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return -1.0;
    }
    return childrenCpuSeconds() - before;
}

}  // namespace

int main() {
    struct Case {
        const char* name;
        TAudioFormat in;
        TAudioFormat out;
        std::vector<std::string> lameOptions;
    };
    const Case cases[] = {
        {"default: 11025 Hz mono -> MP3 18 kbit/s ABR",
         defaultInputFormat(),
         defaultOutputFormat(),
         {"-s", "11.025", "-m", "m", "--abr", "18", "--resample", "11.025"}},
        {"44100 Hz stereo -> MP3 128 kbit/s CBR",
         vx::acm::pcmFormat(44100, 16, 2),
         vx::acm::mp3Format(44100, 2, 128),
         {"-s", "44.1", "-m", "j", "-b", "128", "--resample", "44.1"}},
    };
    const int seconds = 120;
    QTemporaryDir dir;
    std::printf("%-46s %10s %14s %14s %8s\n", "format", "audio [s]", "station [x rt]", "lame CLI [x rt]",
                "ratio");
    for (const auto& c : cases) {
        const QByteArray pcm = programme(c.in.samplesPerSec(), c.in.channels(), seconds);
        qint64 encoded = 0;
        const double station = stationCpu(c.in, c.out, pcm, &encoded);

        const std::string rawPath = (dir.path() + QStringLiteral("/in.raw")).toStdString();
        const std::string mp3Path = (dir.path() + QStringLiteral("/out.mp3")).toStdString();
        QFile raw(QString::fromStdString(rawPath));
        raw.open(QIODevice::WriteOnly);
        raw.write(pcm);
        raw.close();
        std::vector<std::string> args = {"lame", "-r", "--bitwidth", "16",      "--signed", "--little-endian",
                                         "-q",   "5",  "-t",         "--silent"};
        args.insert(args.end(), c.lameOptions.begin(), c.lameOptions.end());
        args.push_back(rawPath);
        args.push_back(mp3Path);
        const double cli = lameCpu(args);

        const double stationRate = seconds / station;
        if (cli > 0.0) {
            const double cliRate = seconds / cli;
            std::printf("%-46s %10d %14.1f %14.1f %8.2f\n", c.name, seconds, stationRate, cliRate,
                        stationRate / cliRate);
        } else {
            std::printf("%-46s %10d %14.1f %14s %8s\n", c.name, seconds, stationRate, "(no lame)", "-");
        }
        std::printf("%-46s station output %.0f B/s (format %u B/s)\n", "", double(encoded) / seconds,
                    c.out.avgBytesPerSec());
    }
    return 0;
}
