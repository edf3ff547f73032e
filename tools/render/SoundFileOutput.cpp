#include "SoundFileOutput.h"

#include <cerrno>
#include <cstring>

namespace {

SF_INFO Format(int rate, sf_count_t maxFrames)
{
    SF_INFO info = {};
    info.samplerate = rate;
    info.channels = 2;
    info.format = (maxFrames <= SoundFileOutput::kMaxWavFrames ? SF_FORMAT_WAV : SF_FORMAT_RF64) | SF_FORMAT_FLOAT;
    return info;
}

// libsndfile's words for an error, as a clause of a sentence: its text for
// a failed system call is "System error : No space left on device.", where
// the reason alone is wanted.
std::string Plain(const char* text)
{
    std::string s = text ? text : "unknown error";
    const std::string system = "System error : ";
    if (s.rfind(system, 0) == 0)
        s.erase(0, system.size());
    while (!s.empty() && (s.back() == '.' || s.back() == ' ' || s.back() == '\n'))
        s.pop_back();
    return s;
}

} // namespace

SoundFileOutput::~SoundFileOutput()
{
    if (file_)
        sf_close(file_);
}

bool SoundFileOutput::Started(SNDFILE* file, const SF_INFO& info)
{
    file_ = file;
    if (!file_) {
        error_ = Plain(sf_strerror(nullptr));
        return false;
    }
    if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RF64)
        sf_command(file_, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    return true;
}

bool SoundFileOutput::Open(int fd, int rate, sf_count_t maxFrames)
{
    SF_INFO info = Format(rate, maxFrames);
    return Started(sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE), info);
}

bool SoundFileOutput::Open(SF_VIRTUAL_IO& io, void* user, int rate, sf_count_t maxFrames)
{
    SF_INFO info = Format(rate, maxFrames);
    return Started(sf_open_virtual(&io, SFM_WRITE, &info, user), info);
}

bool SoundFileOutput::Write(const float* samples, sf_count_t frames)
{
    if (sf_writef_float(file_, samples, frames) == frames)
        return true;
    error_ = Plain(sf_strerror(file_));
    return false;
}

bool SoundFileOutput::Close()
{
    SNDFILE* file = file_;
    file_ = nullptr;
    errno = 0;
    if (sf_close(file) == 0)
        return true;
    error_ = errno ? std::strerror(errno) : "the file cannot be completed";
    return false;
}
