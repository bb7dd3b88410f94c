#include "target_fixture.h"

#include <string.h>

#include <algorithm>

#include "scratch.h"

const std::string kAlreadyApplied = "既にアップデート適応済みです";

std::string UpdateQuestion(const std::string& folder)
{
    return "[" + folder + "]をアップデートします";
}

void ReportFolderSearch(Report& report, const std::function<int(char*)>& find)
{
    report["before"] = CurrentFolder();
    char buffer[260];
    memset(buffer, '#', sizeof buffer);
    int result = find(buffer);
    report["after"] = CurrentFolder();
    report["result"] = std::to_string(result);
    report["untouched"] = std::all_of(buffer, buffer + sizeof buffer, [](char c) { return c == '#'; }) ? "1" : "0";
    if (memchr(buffer, '\0', sizeof buffer) != nullptr)
        report["buffer"] = buffer;
}
