#pragma once

// Sample media for the window's job tests, made once per test program with the real ffmpeg in a
// temporary folder: short clips (a test pattern and a tone) and a JPEG preview.

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

#include "support/ChildProcess.h"
#include "support/TestData.h"

namespace tarnwick::testing {

struct JobSamples {
    std::string flv;      // 2 s, 160x120, FLV
    std::string mp4;      // 2 s, 160x120, MPEG-4 in MP4
    std::string longFlv;  // 40 s, 320x240, FLV: its conversion takes a while
    std::string preview;  // 120x90 JPEG
};

// Empty texts when ffmpeg failed (the failure is reported to the running test).
inline const JobSamples& Samples() {
    static QTemporaryDir folder;
    static const JobSamples samples = [] {
        JobSamples made;
        const auto make = [](const std::string& out, const std::string& seconds, const std::string& size,
                             const std::vector<std::string>& codecs) {
            std::vector<std::string> args = {"-loglevel", "error", "-nostdin", "-y",
                                             "-f", "lavfi", "-i", "testsrc=size=" + size + ":rate=25:duration=" + seconds,
                                             "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=" + seconds};
            args.insert(args.end(), codecs.begin(), codecs.end());
            args.insert(args.end(), {"-shortest", out});
            const ProgramRun run = RunProgram("ffmpeg", args);
            EXPECT_EQ(run.status, 0) << "ffmpeg making " << out << ": " << run.err;
            return run.status == 0 ? ReadWholeFile(out) : std::string();
        };
        const std::string dir = folder.path().toStdString();
        made.flv = make(dir + "/clip.flv", "2", "160x120", {"-c:v", "flv1", "-b:v", "400k", "-c:a", "aac", "-b:a", "64k"});
        made.mp4 = make(dir + "/clip.mp4", "2", "160x120", {"-c:v", "mpeg4", "-b:v", "400k", "-c:a", "aac", "-b:a", "64k"});
        made.longFlv = make(dir + "/long.flv", "40", "320x240", {"-c:v", "flv1", "-b:v", "300k", "-c:a", "aac", "-b:a", "64k"});
        const ProgramRun still = RunProgram("ffmpeg", {"-loglevel", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                                                       "testsrc=size=120x90:rate=1:duration=1", "-frames:v", "1",
                                                       dir + "/preview.jpg"});
        EXPECT_EQ(still.status, 0) << still.err;
        made.preview = ReadWholeFile(dir + "/preview.jpg");
        return made;
    }();
    return samples;
}

}  // namespace tarnwick::testing
