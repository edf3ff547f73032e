// The renderer's sound file, written into memory: a sound that surely fits a
// WAV header is a WAV file, and one past 4 GiB of sound is RF64, whose header
// counts it right. The 4 GiB go to a file that keeps only its first bytes
// (where the headers are) and its length: nothing reaches the disk.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "render/SoundFileOutput.h"

namespace {

// A file in memory that keeps its first `kept` bytes and reads zeros after
// them.
struct HeadOnlyFile {
    explicit HeadOnlyFile(size_t kept) : head(kept, 0) {}
    std::vector<uint8_t> head;
    sf_count_t length = 0, at = 0;

    static HeadOnlyFile& Of(void* user) { return *static_cast<HeadOnlyFile*>(user); }
    static SF_VIRTUAL_IO Io()
    {
        SF_VIRTUAL_IO io;
        io.get_filelen = [](void* u) { return Of(u).length; };
        io.seek = [](sf_count_t offset, int whence, void* u) {
            HeadOnlyFile& f = Of(u);
            f.at = (whence == SEEK_SET ? 0 : whence == SEEK_CUR ? f.at : f.length) + offset;
            return f.at;
        };
        io.read = [](void* ptr, sf_count_t count, void* u) {
            HeadOnlyFile& f = Of(u);
            const sf_count_t n = std::max<sf_count_t>(0, std::min(count, f.length - f.at));
            auto* out = static_cast<uint8_t*>(ptr);
            for (sf_count_t i = 0; i < n; ++i)
                out[i] = f.at + i < static_cast<sf_count_t>(f.head.size()) ? f.head[static_cast<size_t>(f.at + i)] : 0;
            f.at += n;
            return n;
        };
        io.write = [](const void* ptr, sf_count_t count, void* u) {
            HeadOnlyFile& f = Of(u);
            const auto* in = static_cast<const uint8_t*>(ptr);
            for (sf_count_t i = 0; i < count && f.at + i < static_cast<sf_count_t>(f.head.size()); ++i)
                f.head[static_cast<size_t>(f.at + i)] = in[i];
            f.at += count;
            f.length = std::max(f.length, f.at);
            return count;
        };
        io.tell = [](void* u) { return Of(u).at; };
        return io;
    }
    std::string Magic() const { return std::string(head.begin(), head.begin() + 4); }
};

// Writes `frames` stereo frames, the first ones a ramp, the rest silence,
// into a file opened for at most `maxFrames`.
void Render(HeadOnlyFile& file, sf_count_t frames, sf_count_t maxFrames)
{
    SF_VIRTUAL_IO io = HeadOnlyFile::Io();
    SoundFileOutput out;
    ASSERT_TRUE(out.Open(io, &file, 192000, maxFrames)) << out.Error();
    std::vector<float> block(2 * 65536, 0.0f);
    for (size_t i = 0; i < 64; ++i)
        block[i] = static_cast<float>(i) / 64;
    for (sf_count_t done = 0; done < frames;) {
        const sf_count_t n = std::min<sf_count_t>(65536, frames - done);
        ASSERT_TRUE(out.Write(block.data(), n)) << out.Error();
        std::fill(block.begin(), block.begin() + 64, 0.0f);
        done += n;
    }
    ASSERT_TRUE(out.Close()) << out.Error();
}

// What a reader makes of the file's header.
SF_INFO ReadBack(HeadOnlyFile& file)
{
    SF_VIRTUAL_IO io = HeadOnlyFile::Io();
    file.at = 0;
    SF_INFO info = {};
    SNDFILE* in = sf_open_virtual(&io, SFM_READ, &info, &file);
    EXPECT_NE(in, nullptr) << sf_strerror(nullptr);
    if (in)
        sf_close(in);
    return info;
}

TEST(SoundFileOutput, ASoundThatFitsAWavHeaderIsWav)
{
    // Sure to fit: a plain WAV file, as every render shorter than three hours
    // at 192000 Hz was before. May not fit, but does: a WAV file of the
    // extensible kind.
    const std::pair<sf_count_t, int> cases[] = {{SoundFileOutput::kMaxWavFrames, SF_FORMAT_WAV},
                                                {SoundFileOutput::kMaxWavFrames + 1, SF_FORMAT_WAVEX}};
    for (const auto& [maxFrames, format] : cases) {
        HeadOnlyFile file(1 << 20);
        Render(file, 192000, maxFrames);
        EXPECT_EQ(file.Magic(), "RIFF") << maxFrames;
        const SF_INFO info = ReadBack(file);
        EXPECT_EQ(info.format, format | SF_FORMAT_FLOAT) << maxFrames;
        EXPECT_EQ(info.frames, 192000);
        EXPECT_EQ(info.channels, 2);
        EXPECT_EQ(info.samplerate, 192000);
    }
}

// 2^29 stereo float frames are exactly 4 GiB of sound, more than a WAV
// header's 32-bit sizes count; a few more frames make sure.
TEST(SoundFileOutput, SoundPast4GiBIsRf64WithItsTrueLength)
{
    const sf_count_t frames = (sf_count_t{1} << 29) + 1000;
    EXPECT_LT(SoundFileOutput::kMaxWavFrames, sf_count_t{1} << 29);
    HeadOnlyFile file(1 << 16);
    Render(file, frames, frames);
    EXPECT_EQ(file.Magic(), "RF64");
    EXPECT_GT(file.length, frames * 8);
    const SF_INFO info = ReadBack(file);
    EXPECT_EQ(info.format, SF_FORMAT_RF64 | SF_FORMAT_FLOAT);
    EXPECT_EQ(info.frames, frames);
}

} // namespace
