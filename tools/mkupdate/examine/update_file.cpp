// Opening a built update for list, verify and extract, and the texts they share.
#include "examine/update_file.h"

#include <ctime>

#include "cli/command_line.h"
#include "host/host_files.h"

UpdateFile::~UpdateFile()
{
    if (file_ != nullptr)
        std::fclose(file_);
}

bool UpdateFile::Open(const std::string& path)
{
    return Open(std::filesystem::u8path(path));
}

bool UpdateFile::Open(const std::filesystem::path& path)
{
#ifdef _WIN32
    file_ = _wfopen(path.c_str(), L"rb");
#else
    file_ = std::fopen(path.c_str(), "rb");
#endif
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

std::string FormatFileTimeRfc3339(uint64_t fileTime)
{
    std::string text = FormatFileTime(fileTime);
    text[10] = 'T';
    return text + "Z";
}

std::string FormatTotals(int files, int folders, uint64_t inputBytes, uint64_t packageBytes)
{
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%.1f%%",
                  inputBytes == 0 ? 100.0 : 100.0 * (double)packageBytes / (double)inputBytes);
    return Count(files, "file", "files") + ", " + Count(folders, "folder", "folders") + ", " +
           std::to_string(inputBytes) + " bytes packed into " + std::to_string(packageBytes) + " (" + ratio + ")";
}

ProgressLine::ProgressLine(const char* command, uint64_t total)
    : command_(command), total_(total), shown_(!Quiet() && total >= (32u << 20) && IsTerminal(stderr))
{
}

ProgressLine::~ProgressLine()
{
    Done();
}

void ProgressLine::Done()
{
    if (shown_ && last_ >= 0)
        PrintTo(stderr, "\n");
    shown_ = false;
}

void ProgressLine::Reached(uint64_t done)
{
    if (!shown_ || total_ == 0)
        return;
    int percent = (int)(done * 100 / total_);
    if (percent == last_)
        return;
    last_ = percent;
    PrintTo(stderr, "\rmkupdate %s: %3d%%", command_, percent);
}
