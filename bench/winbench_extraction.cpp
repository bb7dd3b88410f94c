// The extraction under Wine: the full pass against a plain zlib loop that inflates each entry
// to its file in 128 KiB blocks (same build, same data), small files both into an empty folder
// and over existing files of the same names, and each against its floor: the plain loop plus the
// calls any full pass of this design must make, timed alone in the same run; the peak working set
// of a full pass over a large package against a 1 MiB one; the setup pass with a large non-setup
// entry against the same package without it; and the undoing of a 5,000-file update over
// existing files (cut off when every file waits for the commit, undone as the next run undoes it)
// against its full pass. --large uses 1 GiB where the default uses 128 MiB; --delta runs the
// delta's comparison alone; --calls counts and times each Win32 call of the pass over existing
// files and then the floors' calls alone; --replaced sets the pass over existing files against its
// floor made in place alone (the replaced files' calls in the pass's order among as many files).
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "extraction/extraction.h"
#include "package/delta_writer.h"
#include "package/sha256.h"
#include "transaction/update_journal.h"
#include "import_hook.h"
#include "base/notices.h"
#include "ui/progress_window.h"
#include "text/entry_name_rules.h"
#include "winbench_package.h"

using namespace winbench;

namespace {

const std::string kImage(64, 'M');

// One timed run of the full pass or of the plain loop, into an empty folder or over the same
// files already there (as an update usually finds them), prepared untimed.
double TimeOneSide(bool updater, const std::string& package, const std::string& destination, bool overExisting)
{
    EmptyFolder(destination);
    if (overExisting)
        PlainZlibLoop(package, destination);
    double start = Now();
    if (updater) {
        SetPackageFilePath(package.c_str());
        ExtractPackage(destination.c_str(), EXTRACT_FULL_PASS);
    } else {
        PlainZlibLoop(package, destination);
    }
    return Now() - start;
}

struct PassTimes {
    double product;
    double baseline;
};

// Both sides' best times, for the floors below.
PassTimes CompareFullPass(const char* label, const std::vector<BenchFile>& files, bool overExisting = false)
{
    std::string folder = TempFolder("winbench_extraction");
    std::string package = folder + "\\" + "package.exe";
    std::string destination = TempFolder("winbench_extraction_out");
    WritePackage(package, kImage, files);
    // Best of three, alternating, so neither side pays alone for a cold cache or a busy moment
    // of the shared machine.
    double product = 1e9, baseline = 1e9;
    for (int round = 0; round < 3; ++round) {
        baseline = std::min(baseline, TimeOneSide(false, package, destination, overExisting));
        product = std::min(product, TimeOneSide(true, package, destination, overExisting));
    }
    std::printf("full pass, %s: updater %.3f s, plain zlib loop %.3f s, speed ratio %.2f\n", label, product, baseline,
                baseline / product);
    EmptyFolder(destination);
    DeleteFileA(package.c_str());
    return {product, baseline};
}

// Best of three rounds of work(i) for i below count, per call.
template <typename Work>
double PerCall(int count, Work work)
{
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        double start = Now();
        for (int i = 0; i < count; ++i)
            work(round * count + i);
        best = std::min(best, (Now() - start) / count);
    }
    return best;
}

// What a full pass must pay beyond the plain loop on this machine, from the calls it must make,
// each timed alone: per block, the bars moved and the queue drained (the progress window up, the
// drains paced as the pass paces them); per pass, the progress window opened and closed and the
// record flushed at the commit (after as many bytes as the pass wrote); per file, its time set,
// its identity read, its two lines in the record, its name in the progress window, the queue
// drained at its end and its rename at the commit (from its working folder, over the old file's
// name for a replaced one); per replaced file besides, the check before writing (an open for
// writing, the identity, a close), a new file made where the plain loop overwrites in place, the
// old file's second name and, after the commit, the delete of that name, by then the old file's
// last; per working folder (64 names), the folder made,
// marked, identified and removed.
struct Floors {
    double block;
    double pass;
    double newFile;
    double replacedFile;
    double replacedInPlace;  // per file, made in place (below)
};

// The record's flush at the commit, after bytes of new files were written and not yet on the disk:
// on Linux (ext4, data=ordered) one file's flush writes out every file's pending data first.
double FlushAfter(const std::string& folder, uint64_t bytes)
{
    double best = 1e9;
    const std::vector<char> block(kUnit, 'w');
    for (int round = 0; round < 2; ++round) {
        HANDLE data = CreateFileA((folder + "\\dirty").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        HANDLE record = CreateFileA((folder + "\\flushed").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        for (uint64_t done = 0; done < bytes; done += kUnit)
            WriteFile(data, block.data(), (DWORD)block.size(), &written, nullptr);
        WriteFile(record, "C\r\n", 3, &written, nullptr);
        double start = Now();
        FlushFileBuffers(record);
        best = std::min(best, Now() - start);
        CloseHandle(data);
        CloseHandle(record);
        DeleteFileA((folder + "\\dirty").c_str());
        DeleteFileA((folder + "\\flushed").c_str());
    }
    return best;
}

// A working folder as the pass makes one: made, marked and its identity read.
void MakeMarkedWorkFolder(const std::string& path)
{
    CreateDirectoryA(path.c_str(), nullptr);
    HANDLE mark = CreateFileA((path + "\\" UPDATE_MARK_NAME).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    DWORD written = 0;
    WriteFile(mark, UPDATE_MARK_TEXT, (DWORD)std::strlen(UPDATE_MARK_TEXT), &written, nullptr);
    CloseHandle(mark);
    HANDLE item = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION information;
    GetFileInformationByHandle(item, &information);
    CloseHandle(item);
}

// The replaced files' floor made in place: the calls the design makes for each replaced file, in
// the order the pass makes them (every check before the first write; each file made in a working
// folder of 32 with its time, identity, second name, record lines and progress; the commit's
// renames; the second names' deletes and the folders' removal after it), among as many files as
// the pass's folder holds, against the plain loop's overwrite in place of the same files there.
// Under Wine a call's cost depends on the folder it works in and on the calls around it, which
// the floors above, each timed alone in runs of 320 in a smaller folder, leave out.
// One round of the above, into a fresh folder: the sequence's time and the overwrite's.
void ReplacedFilesInPlaceOnce(int count, HWND progress, double& sequence, double& overwrite)
{
    const std::string folder = TempFolder("winbench_inplace");
    EmptyFolder(folder);
    const std::string data = folder + "\\data";
    CreateDirectoryA(data.c_str(), nullptr);
    const std::string contents(4096, 'o');
    const std::string line = "R\tdata\\f1234.dat\tdata\\~upd12AB.tmp\\1F\tdata\\~upd12AB.tmp\\20\t0123ABCD\t"
                             "0000000000012345\t0000000000001000\t01D8A1B2C3D4E5F0\r\n";
    auto name = [&](int i) { return data + "\\f" + std::to_string(i) + ".dat"; };
    auto work = [&](int i) { return data + "\\~upd" + std::to_string(i / 32) + ".tmp"; };
    auto waiting = [&](int i) { return work(i) + "\\" + std::to_string(2 * (i % 32)); };
    auto kept = [&](int i) { return work(i) + "\\" + std::to_string(2 * (i % 32) + 1); };
    auto write = [&](const std::string& path, DWORD disposition) {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition, 0, nullptr);
        DWORD done = 0;
        WriteFile(file, contents.data(), (DWORD)contents.size(), &done, nullptr);
        CloseHandle(file);
    };
    for (int i = 0; i < count; ++i)
        write(name(i), CREATE_NEW);
    double start = Now();
    for (int i = 0; i < count; ++i)
        write(name(i), CREATE_ALWAYS);
    overwrite = Now() - start;

    HANDLE record = CreateFileA((folder + "\\record").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, 0, nullptr);
    DWORD written = 0;
    BY_HANDLE_FILE_INFORMATION information;
    start = Now();
    for (int i = 0; i < count; ++i) {
        HANDLE file = CreateFileA(name(i).c_str(), FILE_WRITE_DATA | DELETE | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        GetFileInformationByHandle(file, &information);
        CloseHandle(file);
    }
    for (int i = 0; i < count; ++i) {
        if (i % 32 == 0) {
            WriteFile(record, line.data(), 40, &written, nullptr);
            MakeMarkedWorkFolder(work(i));
            WriteFile(record, line.data(), (DWORD)line.size(), &written, nullptr);
        }
        WriteFile(record, line.data(), (DWORD)line.size(), &written, nullptr);
        BeginFileProgress(progress, "C:\\Games\\data\\f1234.dat", 4096);
        HANDLE file = CreateFileA(waiting(i).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        WriteFile(file, contents.data(), (DWORD)contents.size(), &written, nullptr);
        FILETIME time{0x12345678, 0x01D8A1B2};
        SetFileTime(file, nullptr, nullptr, &time);
        GetFileInformationByHandle(file, &information);
        CloseHandle(file);
        CreateHardLinkA(kept(i).c_str(), name(i).c_str(), nullptr);
        WriteFile(record, line.data(), 40, &written, nullptr);
        ReportProgress(progress, 4096, (i + 1) * 4200);
        EndFileProgress(progress);
    }
    for (int i = 0; i < count; ++i)
        MoveFileExA(waiting(i).c_str(), name(i).c_str(), MOVEFILE_REPLACE_EXISTING);
    for (int i = 0; i < count; ++i) {
        DeleteFileA(kept(i).c_str());
        if (i % 32 == 31 || i == count - 1) {
            DeleteFileA((work(i) + "\\" UPDATE_MARK_NAME).c_str());
            RemoveDirectoryA(work(i).c_str());
        }
    }
    sequence = Now() - start;
    CloseHandle(record);
    EmptyFolder(folder);
    RemoveDirectoryA(folder.c_str());
}

double ReplacedFilesInPlace(int count, HWND progress)
{
    // Best of three for each, as the passes it is set against are.
    double sequence = 1e9, overwrite = 1e9;
    for (int round = 0; round < 3; ++round) {
        double one = 0, plain = 0;
        ReplacedFilesInPlaceOnce(count, progress, one, plain);
        sequence = std::min(sequence, one);
        overwrite = std::min(overwrite, plain);
    }
    std::printf("the replaced files' calls made in place (%d files): %.3f s, the plain loop's overwrite of them %.3f s, "
                "%.3f ms per file beyond it\n",
                count, sequence, overwrite, (sequence - overwrite) * 1e3 / count);
    return std::max(0.0, sequence - overwrite);
}

Floors MeasureFloors(uint64_t largeBytes, double plainPerBlock)
{
    Floors floors{};
    const int packageSize = (int)std::min<uint64_t>(largeBytes, 0x7FFFFFFF);
    floors.pass = PerCall(3, [&](int) {
        OpenProgressWindow(packageSize);
        CloseProgressWindow();
    });
    HWND progress = OpenProgressWindow(packageSize);
    BeginFileProgress(progress, "C:\\Games\\a.dat", packageSize);
    // Paced as the pass paces it: the plain loop's time for a block goes by between two drains,
    // so that what the window does as time passes (the copy animation's frames, the bars'
    // painting) falls into the drains as it does in the pass. Only the drains' time counts.
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        double drains = 0;
        for (int i = 0; i < 300; ++i) {
            double until = Now() + plainPerBlock;
            while (Now() < until) {
            }
            double start = Now();
            ReportProgress(progress, (i + 1) * (int)kUnit, (i + 1) * (int)kUnit);
            drains += Now() - start;
        }
        best = std::min(best, drains / 300);
    }
    floors.block = best;

    const std::string folder = TempFolder("winbench_floor");
    EmptyFolder(folder);
    const int count = 320;  // five working folders' worth per round
    const std::string line = "R\tdata\\f1234.dat\tdata\\~upd12AB.tmp\\1F\tdata\\~upd12AB.tmp\\20\t0123ABCD\t"
                             "0000000000012345\t0000000000001000\t01D8A1B2C3D4E5F0\r\n";
    auto name = [&](int i) { return folder + "\\f" + std::to_string(i); };
    auto work = [&](int i) { return folder + "\\~upd" + std::to_string(i / 64) + ".tmp"; };
    const std::string contents(4096, 'o');
    auto fill = [&](const std::string& path) {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, contents.data(), (DWORD)contents.size(), &written, nullptr);
        CloseHandle(file);
    };
    auto waiting = [&](int i, const char* kind) { return work(i) + "\\" + kind + std::to_string(i); };
    std::vector<HANDLE> files;
    for (int i = 0; i < 3 * count; ++i) {
        fill(name(i));  // an installed file of the game's
        files.push_back(CreateFileA(name(i).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
        CreateDirectoryA(work(i).c_str(), nullptr);
    }
    HANDLE record = CreateFileA((folder + "\\record").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, 0, nullptr);
    double perFile = PerCall(count, [&](int i) {
        DWORD written = 0;
        WriteFile(record, line.data(), (DWORD)line.size(), &written, nullptr);
        FILETIME time{0x12345678, 0x01D8A1B2};
        SetFileTime(files[i], nullptr, nullptr, &time);
        BY_HANDLE_FILE_INFORMATION information;
        GetFileInformationByHandle(files[i], &information);
        WriteFile(record, line.data(), 40, &written, nullptr);
        // The file's own line in the progress window, and the report at its tail (which drains the
        // queue).
        BeginFileProgress(progress, "C:\\Games\\data\\f1234.dat", 4096);
        ReportProgress(progress, 4096, (i + 1) * 4200);
        EndFileProgress(progress);
    });
    for (HANDLE file : files)
        CloseHandle(file);
    double check = PerCall(count, [&](int i) {
        HANDLE file = CreateFileA(name(i).c_str(), FILE_WRITE_DATA | DELETE | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        BY_HANDLE_FILE_INFORMATION information;
        GetFileInformationByHandle(file, &information);
        CloseHandle(file);
    });
    double link = PerCall(count, [&](int i) { CreateHardLinkA(waiting(i, "o").c_str(), name(i).c_str(), nullptr); });
    // As the commit does them: a waiting file from its working folder over the old file's name,
    // then the old file's last name deleted; a new file's waiting file to a name not yet there.
    for (int i = 0; i < 3 * count; ++i) {
        fill(waiting(i, "w"));
        fill(waiting(i, "v"));
    }
    double replace = PerCall(count, [&](int i) {
        MoveFileExA(waiting(i, "w").c_str(), name(i).c_str(), MOVEFILE_REPLACE_EXISTING);
    });
    double unlink = PerCall(count, [&](int i) { DeleteFileA(waiting(i, "o").c_str()); });
    double rename = PerCall(count, [&](int i) { MoveFileExA(waiting(i, "v").c_str(), (name(i) + "n").c_str(), 0); });
    // A replaced file is a file of its own, made anew in its working folder, where the plain loop
    // opens the installed file and overwrites it in place: the difference is the design's.
    auto written = [&](const std::string& path, DWORD disposition) {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition, 0, nullptr);
        DWORD done = 0;
        WriteFile(file, contents.data(), (DWORD)contents.size(), &done, nullptr);
        CloseHandle(file);
    };
    double made = PerCall(count, [&](int i) { written(waiting(i, "m"), CREATE_NEW); });
    double overwritten = PerCall(count, [&](int i) { written(name(i), CREATE_ALWAYS); });
    double ownFile = std::max(0.0, made - overwritten);
    double workFolder = PerCall(5, [&](int i) {
        const std::string path = folder + "\\~updW" + std::to_string(i) + ".tmp";
        MakeMarkedWorkFolder(path);
        DeleteFileA((path + "\\" UPDATE_MARK_NAME).c_str());
        RemoveDirectoryA(path.c_str());
    });
    CloseHandle(record);
    EmptyFolder(folder);
    floors.replacedInPlace = ReplacedFilesInPlace(5000, progress) / 5000;
    CloseProgressWindow();
    floors.newFile = perFile + rename + workFolder / 64;
    floors.replacedFile = perFile + ownFile + replace + check + link + unlink + workFolder / 32;
    std::printf("floor per file beyond the plain loop: time, identity, record lines, its progress and the queue %.3f ms, "
                "rename to a new name %.3f ms, over the old file %.3f ms, check %.3f ms, a file of its own %.3f ms more "
                "than overwriting in place, second name %.3f ms and the old file's delete %.3f ms, working folder %.3f "
                "ms per 64 names; per block %.1f us, per pass %.1f ms\n",
                perFile * 1e3, rename * 1e3, replace * 1e3, check * 1e3, ownFile * 1e3, link * 1e3, unlink * 1e3,
                workFolder * 1e3, floors.block * 1e6, floors.pass * 1e3);
    EmptyFolder(folder);
    RemoveDirectoryA(folder.c_str());
    return floors;
}

// The full pass against the least any full pass could take here: the plain loop plus the floors.
void PrintAgainstFloor(const char* label, const PassTimes& times, double floor)
{
    std::printf("full pass, %s: floor %.3f s (the plain loop %.3f s and what it leaves out), updater %.3f s, "
                "at %.2f of the floor (goal >= 0.95)\n",
                label, floor, times.baseline, times.product, floor / times.product);
}

// The child of the undoing benchmark: a full pass killed when every file waits for the commit,
// before the commit is on record, so that its whole record is left to undo.
using WriteFileFunction = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
WriteFileFunction realWriteFile;

BOOL WINAPI KillingWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped)
{
    if (size == 3 && std::memcmp(data, "C\r\n", 3) == 0)
        TerminateProcess(GetCurrentProcess(), 0);
    return realWriteFile(file, data, size, written, overlapped);
}

int RunStartedChild(const std::string& line)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)code;
}

// The longest time the undoing leaves the queue alone: Windows takes a window that answers
// nothing for 5 s as hung.
using PeekMessageFunction = BOOL(WINAPI*)(LPMSG, HWND, UINT, UINT, UINT);
PeekMessageFunction realPeekMessage;
double lastPeek, longestGap;

BOOL WINAPI TimedPeekMessage(LPMSG message, HWND window, UINT first, UINT last, UINT remove)
{
    double now = Now();
    longestGap = std::max(longestGap, now - lastPeek);
    lastPeek = now;
    return realPeekMessage(message, window, first, last, remove);
}

// Best of three: the full pass over existing files against the undoing of the same pass.
void CompareUndoing(const std::string& self, const std::vector<BenchFile>& files)
{
    std::string folder = TempFolder("winbench_extraction");
    std::string package = folder + "\\" + "package.exe";
    std::string destination = TempFolder("winbench_extraction_out");
    WritePackage(package, kImage, files);
    double pass = 1e9, undoing = 1e9;
    for (int round = 0; round < 3; ++round) {
        pass = std::min(pass, TimeOneSide(true, package, destination, true));
        EmptyFolder(destination);
        PlainZlibLoop(package, destination);
        RunStartedChild("\"" + self + "\" --killed-pass \"" + package + "\" \"" + destination + "\"");
        DWORD journalFound = GetFileAttributesA((destination + "\\" UPDATE_JOURNAL_NAME).c_str()) != INVALID_FILE_ATTRIBUTES;
        realPeekMessage = reinterpret_cast<PeekMessageFunction>(
            HookImport("user32.dll", "PeekMessageA", reinterpret_cast<void*>(TimedPeekMessage)));
        double start = Now();
        lastPeek = start;
        int left = RecoverInterruptedUpdate(destination.c_str());
        double end = Now();
        longestGap = std::max(longestGap, end - lastPeek);
        HookImport("user32.dll", "PeekMessageA", reinterpret_cast<void*>(realPeekMessage));
        undoing = std::min(undoing, end - start);
        if (left != 0 || journalFound == 0)
            std::printf("the undoing %s\n", left != 0 ? "left something behind" : "found no record: the pass was not cut off");
    }
    std::printf("undoing a full pass of %zu files over existing files: %.3f s, the full pass %.3f s, ratio %.2f (goal <= 0.5); "
                "the queue left alone at most %.0f ms\n",
                files.size(), undoing, pass, undoing / pass, longestGap * 1e3);
    EmptyFolder(destination);
    DeleteFileA(package.c_str());
}

// An installed archive of `size` generated bytes and its new version, 16 bytes changed every
// 8 MiB: the new version packed whole against the same as a delta from the old one, each full
// pass over the installed old version. The delta's pass hashes the old file before the first
// write and reads it again to make the new one.
struct DeltaCase {
    std::string wholePackage;
    std::string deltaPackage;
};

DeltaCase WriteDeltaCase(const std::string& folder, const std::string& installed, uint64_t size)
{
    const uint64_t piece = 8 << 20;  // a change at the start of each piece
    std::vector<unsigned char> old((size_t)piece), made((size_t)piece);
    unsigned state = 99;
    Sha256Context oldHash, newHash;
    Sha256Init(&oldHash);
    Sha256Init(&newHash);
    std::FILE* out = std::fopen(installed.c_str(), "wb");
    z_stream zs{};
    deflateInit(&zs, 6);
    std::vector<unsigned char> whole;
    std::vector<unsigned char> records;
    DeltaWriter delta([&](const unsigned char* d, size_t n) { records.insert(records.end(), d, d + n); });
    for (uint64_t at = 0; at < size; at += piece) {
        size_t n = (size_t)std::min(piece, size - at);
        old.resize(n);
        FillPiece(old, state);
        std::fwrite(old.data(), 1, n, out);
        Sha256Update(&oldHash, old.data(), n);
        made = old;
        for (size_t j = 0; j < 16 && j < n; ++j)
            made[j] ^= 0x20;
        Sha256Update(&newHash, made.data(), n);
        std::vector<unsigned char> differences(16);
        for (size_t j = 0; j < 16 && j < n; ++j)
            differences[j] = (unsigned char)(made[j] - old[j]);
        delta.BeginDiff(at, std::min<size_t>(16, n));
        delta.Payload(differences.data(), std::min<size_t>(16, n));
        if (n > 16)
            delta.Copy(at + 16, n - 16);
        zs.next_in = made.data();
        zs.avail_in = (uInt)n;
        int flush = at + n >= size ? Z_FINISH : Z_NO_FLUSH;
        do {
            size_t before = whole.size();
            whole.resize(before + (1 << 20));
            zs.next_out = whole.data() + before;
            zs.avail_out = 1 << 20;
            deflate(&zs, flush);
            whole.resize(before + (1 << 20) - zs.avail_out);
        } while (zs.avail_out == 0);
    }
    deflateEnd(&zs);
    delta.Finish();
    std::fclose(out);
    DeltaHeader header{};
    header.baseSize = size;
    header.resultSize = size;
    Sha256Final(&oldHash, header.baseHash);
    Sha256Final(&newHash, header.resultHash);
    std::vector<unsigned char> data(DELTA_HEADER_SIZE);
    EncodeDeltaHeader(&header, data.data());
    data.insert(data.end(), records.begin(), records.end());
    DeltaCase paths{folder + "\\whole.exe", folder + "\\delta.exe"};
    for (int kind = 0; kind < 2; ++kind) {
        std::FILE* package = std::fopen((kind == 0 ? paths.wholePackage : paths.deltaPackage).c_str(), "wb");
        std::fwrite(kImage.data(), 1, kImage.size(), package);
        PackageWriter writer([package](const unsigned char* d, size_t n) { std::fwrite(d, 1, n, package); }, kImage.size());
        if (kind == 0)
            writer.AddFile("archive.pak", (int32_t)size, 0x01D8000000000000ull, whole);
        else
            writer.AddDelta("archive.pak", 0x01D8000000000000ull, data);
        writer.Finish();
        std::fclose(package);
    }
    return paths;
}

double TimeOverInstalled(const std::string& package, const std::string& installed, const std::string& destination)
{
    EmptyFolder(destination);
    CopyFileA(installed.c_str(), (destination + "\\archive.pak").c_str(), FALSE);
    SetPackageFilePath(package.c_str());
    double start = Now();
    ExtractPackage(destination.c_str(), EXTRACT_FULL_PASS);
    return Now() - start;
}

void CompareDeltaPass(const std::string& self, uint64_t size)
{
    std::string folder = TempFolder("winbench_delta");
    std::string destination = TempFolder("winbench_delta_out");
    const std::string installed = folder + "\\installed.pak";
    DeltaCase paths = WriteDeltaCase(folder, installed, size);
    double whole = 1e9, delta = 1e9;
    for (int round = 0; round < 2; ++round) {
        whole = std::min(whole, TimeOverInstalled(paths.wholePackage, installed, destination));
        delta = std::min(delta, TimeOverInstalled(paths.deltaPackage, installed, destination));
    }
    WIN32_FILE_ATTRIBUTE_DATA packed{};
    GetFileAttributesExA(paths.deltaPackage.c_str(), GetFileExInfoStandard, &packed);
    std::printf("full pass of a %llu MiB file over its old version: packed whole %.3f s, as a delta (%lu bytes) %.3f s, "
                "ratio %.2f (goal >= 0.8)\n",
                (unsigned long long)(size >> 20), whole, packed.nFileSizeLow, delta, whole / delta);
    EmptyFolder(destination);
    CopyFileA(installed.c_str(), (destination + "\\archive.pak").c_str(), FALSE);
    int peakKiB = RunStartedChild("\"" + self + "\" --full-pass \"" + paths.deltaPackage + "\" \"" + destination + "\"");
    std::printf("peak working set of the delta's full pass: %.2f MiB\n", peakKiB / 1024.0);
    EmptyFolder(destination);
    EmptyFolder(folder);
}

SIZE_T PeakWorkingSetOfFullPass(const std::string& self, const std::string& package, const std::string& destination)
{
    EmptyFolder(destination);
    int peakKiB = RunStartedChild("\"" + self + "\" --full-pass \"" + package + "\" \"" + destination + "\"");
    return peakKiB > 0 ? (SIZE_T)peakKiB * 1024 : 0;
}

double TimeSetupPass(const std::string& package, const std::string& destination)
{
    EmptyFolder(destination);
    SetPackageFilePath(package.c_str());
    double start = Now();
    ExtractPackage(destination.c_str(), EXTRACT_SETUP_PASS);
    return Now() - start;
}

// Where a pass's time goes: each Win32 call the pass makes through the program's import table,
// counted and timed, for the pass over existing files; the rest is the pass's own code and the
// calls not listed here.
struct CallTally {
    const char* name;
    long calls;
    double seconds;
};
std::vector<CallTally*> tallies;

#define TALLIED(dll, Result, name, params, args)                                     \
    using Tallied##name##Function = Result(WINAPI*) params;                          \
    Tallied##name##Function tallyReal##name;                                         \
    CallTally tally##name{#name, 0, 0};                                              \
    Result WINAPI Tallied##name params                                               \
    {                                                                                \
        double start = Now();                                                        \
        Result result = tallyReal##name args;                                        \
        tally##name.seconds += Now() - start;                                        \
        ++tally##name.calls;                                                         \
        return result;                                                               \
    }                                                                                \
    void Hook##name()                                                                \
    {                                                                                \
        void* real = HookImport(dll, #name, reinterpret_cast<void*>(Tallied##name)); \
        if (real) {                                                                  \
            tallyReal##name = reinterpret_cast<Tallied##name##Function>(real);       \
            tallies.push_back(&tally##name);                                         \
        }                                                                            \
    }

TALLIED("kernel32.dll", HANDLE, CreateFileA, (LPCSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f, HANDLE g),
        (a, b, c, d, e, f, g))
TALLIED("kernel32.dll", BOOL, WriteFile, (HANDLE a, LPCVOID b, DWORD c, LPDWORD d, LPOVERLAPPED e), (a, b, c, d, e))
TALLIED("kernel32.dll", BOOL, ReadFile, (HANDLE a, LPVOID b, DWORD c, LPDWORD d, LPOVERLAPPED e), (a, b, c, d, e))
TALLIED("kernel32.dll", BOOL, CloseHandle, (HANDLE a), (a))
TALLIED("kernel32.dll", BOOL, SetFileTime, (HANDLE a, const FILETIME* b, const FILETIME* c, const FILETIME* d), (a, b, c, d))
TALLIED("kernel32.dll", BOOL, GetFileInformationByHandle, (HANDLE a, LPBY_HANDLE_FILE_INFORMATION b), (a, b))
TALLIED("kernel32.dll", BOOL, MoveFileExA, (LPCSTR a, LPCSTR b, DWORD c), (a, b, c))
TALLIED("kernel32.dll", BOOL, CreateHardLinkA, (LPCSTR a, LPCSTR b, LPSECURITY_ATTRIBUTES c), (a, b, c))
TALLIED("kernel32.dll", BOOL, DeleteFileA, (LPCSTR a), (a))
TALLIED("kernel32.dll", BOOL, CreateDirectoryA, (LPCSTR a, LPSECURITY_ATTRIBUTES b), (a, b))
TALLIED("kernel32.dll", BOOL, RemoveDirectoryA, (LPCSTR a), (a))
TALLIED("kernel32.dll", HANDLE, FindFirstFileA, (LPCSTR a, LPWIN32_FIND_DATAA b), (a, b))
TALLIED("kernel32.dll", BOOL, FindNextFileA, (HANDLE a, LPWIN32_FIND_DATAA b), (a, b))
TALLIED("kernel32.dll", BOOL, FindClose, (HANDLE a), (a))
TALLIED("kernel32.dll", DWORD, GetFileAttributesA, (LPCSTR a), (a))
TALLIED("kernel32.dll", BOOL, GetFileAttributesExA, (LPCSTR a, GET_FILEEX_INFO_LEVELS b, LPVOID c), (a, b, c))
TALLIED("kernel32.dll", BOOL, SetFileAttributesA, (LPCSTR a, DWORD b), (a, b))
TALLIED("kernel32.dll", BOOL, SetFilePointerEx, (HANDLE a, LARGE_INTEGER b, PLARGE_INTEGER c, DWORD d), (a, b, c, d))
TALLIED("kernel32.dll", BOOL, FlushFileBuffers, (HANDLE a), (a))
TALLIED("kernel32.dll", BOOL, GetDiskFreeSpaceExA, (LPCSTR a, PULARGE_INTEGER b, PULARGE_INTEGER c, PULARGE_INTEGER d),
        (a, b, c, d))
TALLIED("kernel32.dll", BOOL, GetFileSizeEx, (HANDLE a, PLARGE_INTEGER b), (a, b))
TALLIED("kernel32.dll", DWORD, GetTickCount, (), ())
TALLIED("user32.dll", BOOL, PeekMessageA, (LPMSG a, HWND b, UINT c, UINT d, UINT e), (a, b, c, d, e))
TALLIED("user32.dll", LRESULT, DispatchMessageA, (const MSG* a), (a))
TALLIED("user32.dll", LRESULT, SendMessageA, (HWND a, UINT b, WPARAM c, LPARAM d), (a, b, c, d))
TALLIED("user32.dll", BOOL, SetWindowTextA, (HWND a, LPCSTR b), (a, b))
TALLIED("user32.dll", BOOL, SetDlgItemTextA, (HWND a, int b, LPCSTR c), (a, b, c))
TALLIED("user32.dll", BOOL, UpdateWindow, (HWND a), (a))

void TallyCallsOfPassOverExisting(int count)
{
    std::vector<BenchFile> files;
    for (int i = 0; i < count; ++i)
        files.push_back(Generated("data\\f" + std::to_string(i) + ".dat", 4096));
    std::string folder = TempFolder("winbench_extraction");
    std::string package = folder + "\\package.exe";
    std::string destination = TempFolder("winbench_extraction_out");
    WritePackage(package, kImage, files);
    double plain = 1e9;
    for (int round = 0; round < 2; ++round)
        plain = std::min(plain, TimeOneSide(false, package, destination, true));
    for (auto hook : {HookCreateFileA, HookWriteFile, HookReadFile, HookCloseHandle, HookSetFileTime,
                      HookGetFileInformationByHandle, HookMoveFileExA, HookCreateHardLinkA, HookDeleteFileA,
                      HookCreateDirectoryA, HookRemoveDirectoryA, HookFindFirstFileA, HookFindNextFileA, HookFindClose,
                      HookGetFileAttributesA, HookGetFileAttributesExA, HookSetFileAttributesA, HookSetFilePointerEx,
                      HookFlushFileBuffers, HookGetDiskFreeSpaceExA, HookGetFileSizeEx, HookGetTickCount,
                      HookPeekMessageA, HookDispatchMessageA, HookSendMessageA, HookSetWindowTextA, HookSetDlgItemTextA,
                      HookUpdateWindow})
        hook();
    // The plain loop's preparation is untimed and its calls are not counted: only the pass's.
    EmptyFolder(destination);
    PlainZlibLoop(package, destination);
    for (CallTally* tally : tallies)
        tally->calls = 0, tally->seconds = 0;
    SetPackageFilePath(package.c_str());
    double start = Now();
    ExtractPackage(destination.c_str(), EXTRACT_FULL_PASS);
    double pass = Now() - start;
    std::sort(tallies.begin(), tallies.end(), [](const CallTally* a, const CallTally* b) { return a->seconds > b->seconds; });
    double counted = 0;
    std::printf("calls of the full pass over %d existing files of 4 KiB (pass %.3f s, the plain loop %.3f s):\n", count,
                pass, plain);
    for (const CallTally* tally : tallies) {
        if (tally->calls == 0)
            continue;
        counted += tally->seconds;
        std::printf("  %-28s %7ld calls, %.2f per file, %8.3f s, %.3f ms per file\n", tally->name, tally->calls,
                    (double)tally->calls / count, tally->seconds, tally->seconds * 1e3 / count);
    }
    std::printf("  counted %.3f s; the rest (the pass's own code, inflating, uncounted calls) %.3f s, %.3f ms per file\n",
                counted, pass - counted, (pass - counted) * 1e3 / count);
    EmptyFolder(destination);
    EmptyFolder(folder);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--full-pass") == 0) {
        SetPackageFilePath(argv[2]);
        ExtractPackage(argv[3], EXTRACT_FULL_PASS);
        // The child reports its own peak in KiB as its exit code: Wine does not always keep the
        // counters of a process that has ended.
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
        return (int)(counters.PeakWorkingSetSize / 1024);
    }
    if (argc == 4 && std::strcmp(argv[1], "--killed-pass") == 0) {
        realWriteFile = reinterpret_cast<WriteFileFunction>(
            HookImport("kernel32.dll", "WriteFile", reinterpret_cast<void*>(KillingWriteFile)));
        SetPackageFilePath(argv[2]);
        ExtractPackage(argv[3], EXTRACT_FULL_PASS);
        return 1;  // never killed: the undoing has nothing to measure
    }
    bool largeRun = argc > 1 && std::strcmp(argv[1], "--large") == 0;
    uint64_t big = largeRun ? (1ull << 30) - (1 << 20) : 128ull << 20;
    // --replaced sets the pass over existing files against its floor made in place alone.
    if (argc > 1 && std::strcmp(argv[argc - 1], "--replaced") == 0) {
        std::vector<BenchFile> small;
        for (int i = 0; i < 5000; ++i)
            small.push_back(Generated("data\\f" + std::to_string(i) + ".dat", 4096));
        PassTimes over = CompareFullPass("5000 files of 4 KiB over existing files of the same names", small, true);
        const double pass = PerCall(3, [&](int) {
            OpenProgressWindow(4096 * 5000);
            CloseProgressWindow();
        });
        HWND progress = OpenProgressWindow(4096 * 5000);
        const double inPlace = ReplacedFilesInPlace(5000, progress);
        CloseProgressWindow();
        const double flush = FlushAfter(TempFolder("winbench_flush"), 4096ull * small.size());
        PrintAgainstFloor("5000 replaced files, the floor's calls made in place", over, over.baseline + pass + flush + inPlace);
        return 0;
    }
    // --calls counts and times the Win32 calls of the pass over existing files, then the floors'
    // calls alone, to set one beside the other.
    if (argc > 1 && std::strcmp(argv[argc - 1], "--calls") == 0) {
        TallyCallsOfPassOverExisting(5000);
        MeasureFloors(big, 0.5e-3);  // the drains paced at a typical block's time; only the per-file calls matter here
        return 0;
    }
    // --delta runs the delta's comparison alone, for looking at it closely.
    if (argc > 1 && std::strcmp(argv[argc - 1], "--delta") == 0) {
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        CompareDeltaPass(self, big);
        return 0;
    }

    const uint64_t blocks = big / kUnit;
    PassTimes large = CompareFullPass(largeRun ? "two files of 512 MiB" : "two files of 64 MiB",
                                      {Generated("a.dat", big / 2), Generated("b.dat", big / 2)});
    std::vector<BenchFile> small;
    for (int i = 0; i < 5000; ++i)
        small.push_back(Generated("data\\f" + std::to_string(i) + ".dat", 4096));
    PassTimes fresh = CompareFullPass("5000 files of 4 KiB into an empty folder", small);
    // The plain loop overwrites each file in place; the updater replaces each one whole.
    PassTimes over = CompareFullPass("5000 files of 4 KiB over existing files of the same names", small, true);
    Floors floors = MeasureFloors(big, large.baseline / (double)blocks);
    const std::string scratch = TempFolder("winbench_flush");
    double flushLarge = FlushAfter(scratch, big);
    double flushSmall = FlushAfter(scratch, 4096ull * small.size());
    std::printf("floor, the record's flush at the commit: %.1f ms after %llu MiB written, %.1f ms after %llu MiB\n",
                flushLarge * 1e3, (unsigned long long)(big >> 20), flushSmall * 1e3,
                (unsigned long long)((4096ull * small.size()) >> 20));
    PrintAgainstFloor("two large files", large,
                      large.baseline + floors.block * (double)blocks + floors.pass + flushLarge + 2 * floors.newFile);
    PrintAgainstFloor("5000 new files", fresh,
                      fresh.baseline + floors.pass + flushSmall + floors.newFile * (double)small.size());
    PrintAgainstFloor("5000 replaced files", over,
                      over.baseline + floors.pass + flushSmall + floors.replacedFile * (double)small.size());
    PrintAgainstFloor("5000 replaced files, the floor's calls made in place", over,
                      over.baseline + floors.pass + flushSmall + floors.replacedInPlace * (double)small.size());

    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    CompareUndoing(self, small);
    std::string folder = TempFolder("winbench_extraction");
    std::string destination = TempFolder("winbench_extraction_out");
    std::string smallPackage = folder + "\\small.exe", bigPackage = folder + "\\big.exe";
    WritePackage(smallPackage, kImage, {Generated("a.dat", 1 << 20)});
    WritePackage(bigPackage, kImage, {Generated("a.dat", big)});
    SIZE_T smallPeak = PeakWorkingSetOfFullPass(self, smallPackage, destination);
    SIZE_T bigPeak = PeakWorkingSetOfFullPass(self, bigPackage, destination);
    std::printf("peak working set of the full pass: %llu MiB package %.2f MiB, 1 MiB package %.2f MiB, difference %.2f MiB "
                "(goal within 1 MiB)\n",
                (unsigned long long)(big >> 20), bigPeak / 1048576.0, smallPeak / 1048576.0,
                ((double)bigPeak - (double)smallPeak) / 1048576.0);

    CompareDeltaPass(self, big);

    std::string withSkip = folder + "\\with.exe", without = folder + "\\without.exe";
    WritePackage(withSkip, kImage, {Generated("install.env", 4096), Generated("payload.dat", big), Generated("readme.txt", 4096)});
    WritePackage(without, kImage, {Generated("install.env", 4096), Generated("readme.txt", 4096)});
    double plain = 1e9, skipping = 1e9;
    for (int round = 0; round < 3; ++round) {
        plain = std::min(plain, TimeSetupPass(without, destination));
        skipping = std::min(skipping, TimeSetupPass(withSkip, destination));
    }
    std::printf("setup pass: with a %llu MiB non-setup entry %.4f s, without it %.4f s, ratio %.2f (goal within 2x)\n",
                (unsigned long long)(big >> 20), skipping, plain, skipping / plain);
    EmptyFolder(destination);
    EmptyFolder(folder);
    return 0;
}
