// The faults that stop an update from working, shared by lint, build and verify.
#include "lint/update_faults.h"

#include <cctype>

#include "settings/settings.h"

namespace {

const char kStem[] = "insttscr.";

std::string LowerAscii(std::string text)
{
    for (char& c : text)
        c = (char)std::tolower((unsigned char)c);
    return text;
}

}  // namespace

const char kNoTitlePicture[] =
    "no title picture: without insttscr.rct the updater shows only a notice that it cannot open it, never its "
    "window; put insttscr.rct, insttscr.png or insttscr.bmp beside install.env (mkupdate rct encode makes one)";

bool IsTitlePictureName(const std::string& name)
{
    return LowerAscii(name).rfind(kStem, 0) == 0;
}

TitlePicture FindTitlePicture(const std::vector<std::string>& topLevelNames)
{
    TitlePicture title;
    std::vector<std::string> others;
    for (const std::string& name : topLevelNames) {
        if (!IsTitlePictureName(name))
            continue;
        std::string type = LowerAscii(name.substr(sizeof kStem - 1));
        if (type == "rct" && title.rct.empty())
            title.rct = name;
        else if ((type == "png" || type == "bmp") && title.picture.empty())
            title.picture = name;
        else
            others.push_back(name);
    }
    if (!title.rct.empty() && !title.picture.empty()) {
        title.passed.push_back(title.picture);
        title.picture.clear();
    }
    title.passed.insert(title.passed.end(), others.begin(), others.end());
    if (!title.rct.empty() || !title.picture.empty())
        return title;
    if (!others.empty())
        title.problem = others.front() + ": mkupdate turns only PNG and BMP pictures into the title picture; save it "
                        "as insttscr.png (or give insttscr.rct, made with mkupdate rct encode)";
    else
        title.problem = kNoTitlePicture;
    return title;
}

std::string VersionRangeProblem()
{
    if (GetChkReg() == nullptr)
        return "";
    int low = GetChkRegVer(), high = GetChkRegVerHigh();
    if (low <= high)
        return "";
    return "CHKREGVER " + std::to_string(low) + " is above CHKREGVERHIGH " + std::to_string(high) +
           ": every installed version is refused, as too old or as updated already; set CHKREGVER to the oldest "
           "version that may take the update and CHKREGVERHIGH to the newest";
}
