#include "update_file.h"

#include <ctime>

#include "lint.h"

UpdateFile::~UpdateFile()
{
    if (file_ != nullptr)
        std::fclose(file_);
}

bool UpdateFile::Open(const std::string& path)
{
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr)
        return false;
    stream_ = FileByteStream(file_);
    return true;
}

std::string DescribeProblem(const PackageProblem& problem)
{
    std::string text = "offset " + std::to_string(problem.offset) + ": ";
    if (!problem.name.empty())
        text += DisplayName(problem.name) + ": ";
    return text + (problem.text.empty() ? "cannot be handled" : problem.text);
}

std::string FormatFileTime(uint64_t fileTime)
{
    // Days from 1601-01-01 to 1970-01-01 are 134774; civil-from-days keeps this free of the
    // host's time_t range and time zone.
    int64_t seconds = (int64_t)(fileTime / 10000000) - 11644473600LL;
    int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    int64_t rest = seconds - days * 86400;
    int64_t z = days + 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = yoe + era * 400;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int64_t d = doy - (153 * mp + 2) / 5 + 1;
    int64_t m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2)
        ++y;
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", (long long)y, (long long)m,
                  (long long)d, (long long)(rest / 3600), (long long)(rest / 60 % 60), (long long)(rest % 60));
    return text;
}
