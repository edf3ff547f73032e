#include "SentSpectra.h"

#include <cstring>

namespace marovane_plugin {

void SentSpectra::Sent(uint32_t which, std::string text)
{
    if (which >= kStateCount)
        return;
    Spectrum& s = spectra_[which];
    s.sent.push_back(std::move(text));
    while (s.sent.size() > kMaxRemembered)
        s.sent.pop_front();
    s.overtaken = false;
}

bool SentSpectra::OwnEcho(uint32_t which, const char* value)
{
    if (which >= kStateCount || !value)
        return false;
    Spectrum& s = spectra_[which];
    for (size_t i = 0; i < s.sent.size(); ++i) {
        if (s.sent[i] != value)
            continue;
        s.sent.erase(s.sent.begin(), s.sent.begin() + static_cast<std::ptrdiff_t>(i) + 1);
        return !(s.sent.empty() && s.overtaken);
    }
    s.overtaken = true;
    return false;
}

} // namespace marovane_plugin
