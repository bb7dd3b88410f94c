// build with several --base and delta entries: one update takes each old version to the new one
// (built, then extracted from each and compared), verify and extract weigh a player's file as the
// updater will, and a damaged delta is found.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "package/delta_apply.h"
#include "package/package_walk.h"
#include "tool_kit.h"

namespace fs = std::filesystem;
using namespace toolkit;

namespace {

const std::string kSettings =
    "TITLEBAR\tT\r\nKEYFILE\tgame.exe\r\n[delfiles_afterinst]\r\ninstall.env\r\n-\r\n[EOF]\r\n";

std::string Noise(size_t size, uint32_t seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = (char)random();
    return bytes;
}

// `text` with a few stretches replaced by new bytes of another length.
std::string Edited(std::string text, uint32_t seed)
{
    std::mt19937 random(seed);
    for (int i = 0; i < 4; ++i)
        text.replace(random() % (text.size() - 100), 60, Noise(90, seed * 10 + (uint32_t)i));
    return text;
}

struct Versions {
    Scratch scratch;
    fs::path v100, v101, next, stub, update;
    std::string archive100, archive101, archiveNew;

    Versions()
    {
        v100 = scratch.Path() / "v100";
        v101 = scratch.Path() / "v101";
        next = scratch.Path() / "new";
        archive100 = Noise(600000, 1);
        archive101 = Edited(archive100, 2);
        archiveNew = Edited(archive101, 3);
        for (const fs::path& dir : {v100, v101, next})
            Write(dir / "game.exe", "1");
        Write(v100 / "data" / "archive.dat", archive100);
        Write(v101 / "data" / "archive.dat", archive101);
        Write(next / "data" / "archive.dat", archiveNew);
        // Only 1.01 has the image; 1.00 lacks it, so the new one must come whole.
        Write(v101 / "data" / "image.dat", Noise(200000, 4));
        Write(next / "data" / "image.dat", Edited(Noise(200000, 4), 5));
        // Only 1.00 has a file the new version dropped: its removal line comes from 1.00.
        Write(v100 / "data" / "gone.dat", "old");
        Write(next / "install.env", kSettings);
        WriteTitlePicture(next);
        stub = scratch.Path() / "stub.exe";
        Write(stub, "MZ");
        update = scratch.Path() / "update.exe";
    }

    ToolRun Build(const std::string& more = "")
    {
        return RunTool("build " + Q(next) + " -o " + Q(update) + " --stub " + Q(stub) + " --base " + Q(v100) +
                       " --base " + Q(v101) + " --remove-missing " + more);
    }
};

struct Listed {
    std::string name;
    bool delta;
    uint64_t baseSize;
};

std::vector<Listed> Entries(const fs::path& update, std::string* settings = nullptr)
{
    std::vector<Listed> out;
    std::string bytes = Read(update);
    MemoryStream memory{reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), 0};
    ByteStream stream = MemoryByteStream(&memory);
    PackageWalk walk;
    walk.checkRules = true;
    walk.begin = [&](const WalkedEntry& e) {
        out.push_back({e.entry.name, e.delta, e.deltaHeader.baseSize});
        return settings != nullptr && std::string(e.entry.name) == "install.env" ? (int)WALK_TAKE : (int)WALK_SKIP;
    };
    walk.data = [&](const WalkedEntry&, const unsigned char* data, size_t size) {
        settings->append(reinterpret_cast<const char*>(data), size);
        return true;
    };
    PackageProblem problem;
    EXPECT_TRUE(WalkPackage(&stream, walk, nullptr, &problem)) << problem.text;
    return out;
}

TEST(MkupdateDelta, OneUpdateTakesEachBaseToTheNewVersion)
{
    Versions v;
    ToolRun run = v.Build("--explain");
    ASSERT_EQ(run.code, kExitOk) << run.output;
    EXPECT_NE(run.output.find("deltas: 1 changed file as 2 deltas of"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("delta     data\\archive.dat: 2 deltas of"), std::string::npos) << run.output;

    std::string settings;
    std::vector<Listed> entries = Entries(v.update, &settings);
    int archiveDeltas = 0;
    for (const Listed& e : entries) {
        if (e.name == "data\\archive.dat") {
            EXPECT_TRUE(e.delta);
            ++archiveDeltas;
        }
        if (e.name == "data\\image.dat") {
            EXPECT_FALSE(e.delta) << "1.00 lacks it: whole";
        }
        EXPECT_NE(e.name, "game.exe");  // the same in every base
    }
    EXPECT_EQ(archiveDeltas, 2);
    EXPECT_NE(settings.find("data\\gone.dat"), std::string::npos) << "removal lines come from every base";

    for (const fs::path& base : {v.v100, v.v101}) {
        SCOPED_TRACE(base.filename().string());
        fs::path out = v.scratch.Path() / ("out-" + base.filename().string());
        ToolRun extracted = RunTool("extract " + Q(v.update) + " " + Q(out) + " --base " + Q(base));
        ASSERT_EQ(extracted.code, kExitOk) << extracted.output;
        EXPECT_TRUE(Read(out / "data" / "archive.dat") == v.archiveNew);
        EXPECT_TRUE(Read(out / "data" / "image.dat") == Read(v.next / "data" / "image.dat"));
    }
    ToolRun verified = RunTool("verify " + Q(v.update) + " --base " + Q(v.v100) + " --base " + Q(v.v101));
    EXPECT_EQ(verified.code, kExitOk) << verified.output;
    EXPECT_NE(verified.output.find("2 deltas applied"), std::string::npos) << verified.output;
    ToolRun listed = RunTool("list " + Q(v.update));
    EXPECT_NE(listed.output.find("delta "), std::string::npos) << listed.output;
}

// A player's file that is none of the old versions: extract stops as the updater refuses, verify
// names the version the update does not serve.
TEST(MkupdateDelta, AFileThatIsNoneOfTheOldVersionsIsRefused)
{
    Versions v;
    ASSERT_EQ(v.Build().code, kExitOk);
    fs::path modified = v.scratch.Path() / "modified";
    Write(modified / "game.exe", "1");
    std::string changed = v.archive101;
    changed[1000] ^= 1;
    Write(modified / "data" / "archive.dat", changed);
    ToolRun extracted = RunTool("extract " + Q(v.update) + " " + Q(v.scratch.Path() / "out") + " --base " + Q(modified));
    EXPECT_EQ(extracted.code, kExitInput);
    EXPECT_NE(extracted.output.find("none of the old versions"), std::string::npos) << extracted.output;
    ToolRun verified = RunTool("verify " + Q(v.update) + " --base " + Q(modified));
    EXPECT_EQ(verified.code, kExitInput);
    EXPECT_NE(verified.output.find("refuse players"), std::string::npos) << verified.output;
    // A folder that already has the new file is served: extract writes it as it is.
    fs::path current = v.scratch.Path() / "current";
    Write(current / "data" / "archive.dat", v.archiveNew);
    Write(current / "data" / "image.dat", "x");
    EXPECT_EQ(RunTool("verify " + Q(v.update) + " --base " + Q(current)).code, kExitOk);
    ToolRun same = RunTool("extract " + Q(v.update) + " " + Q(v.scratch.Path() / "out2") + " --base " + Q(current));
    ASSERT_EQ(same.code, kExitOk) << same.output;
    EXPECT_TRUE(Read(v.scratch.Path() / "out2" / "data" / "archive.dat") == v.archiveNew);
    // Without --base extract cannot make the file.
    EXPECT_EQ(RunTool("extract " + Q(v.update) + " " + Q(v.scratch.Path() / "out3")).code, kExitInput);
}

TEST(MkupdateDelta, TheSameBytesWhateverJobsAndWholeFilesWithNoDeltas)
{
    Versions v;
    ASSERT_EQ(v.Build("--jobs 1").code, kExitOk);
    std::string one = Read(v.update);
    ASSERT_EQ(v.Build("--jobs 4").code, kExitOk);
    EXPECT_TRUE(Read(v.update) == one);
    ASSERT_EQ(v.Build("--no-deltas").code, kExitOk);
    for (const Listed& e : Entries(v.update))
        EXPECT_FALSE(e.delta) << e.name;
}

// Damage in a delta's records: verify finds it without the old versions too.
TEST(MkupdateDelta, VerifyFindsADamagedDelta)
{
    Versions v;
    ASSERT_EQ(v.Build().code, kExitOk);
    std::string bytes = Read(v.update);
    // The first delta's records: its data begins after name, sizes, time and the 80-byte header.
    size_t name = bytes.find(std::string("data\\archive.dat") + '\0');
    ASSERT_NE(name, std::string::npos);
    size_t records = name + std::string("data\\archive.dat").size() + 1 + 8 + 8 + DELTA_HEADER_SIZE;
    bytes[records + 40] ^= 0x10;
    Write(v.update, bytes);
    ToolRun verified = RunTool("verify " + Q(v.update));
    EXPECT_EQ(verified.code, kExitInput);
    EXPECT_NE(verified.output.find("data\\archive.dat"), std::string::npos) << verified.output;
}

}  // namespace
