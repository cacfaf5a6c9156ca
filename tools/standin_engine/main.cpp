// Stand-in for the installer engine QRI.exe, for tests and the demo.
// Writes what it saw (command line, working directory) to "<own path>.seen"
// and then acts as "<own path>.mode" says:
//   exit N        end at once with exit code N (259 is refused: 1 instead)
//   wait NAME     wait until the named event is set (at most 60 s), then exit 0
//   sleep MS      run for MS milliseconds (at most 60 s), then exit 0
// Without a mode file it ends at once with exit code 0. --help prints this.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr DWORD kStillActive = 259;
constexpr DWORD kLongestWaitMs = 60000;

const char kUsage[] =
    "usage: QRI.exe /SCRIPT \"SCRIPT\"   (as the plug-in starts it; the arguments are not read)\n"
    "       standin_engine.exe --help\n"
    "\n"
    "A stand-in for the installer engine QRI.exe, for tests and the demo; it runs\n"
    "no script. Each start writes what it saw to <own path>.seen (QRI.exe.seen\n"
    "beside QRI.exe): a line \"commandline=<its command line>\" and a line\n"
    "\"cwd=<its working directory>\", replacing the record of the start before.\n"
    "Then it acts as the first line of <own path>.mode (QRI.exe.mode) says:\n"
    "  exit N      end at once with exit code N (259 is refused: 1 instead)\n"
    "  wait NAME   wait until the named event NAME is set (at most 60 s), then exit 0\n"
    "  sleep MS    run for MS milliseconds (at most 60 s), then exit 0\n"
    "Without a mode file, or with any other text, it ends at once with exit code 0.\n"
    "qrihost demo-setup installs it as QRI.exe with the mode \"sleep 1000\".\n";

bool AsksForHelp(int argc, char **argv)
{
    return argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
                         std::strcmp(argv[1], "/?") == 0);
}

void WriteSeen(const char *ownPath)
{
    char seenPath[MAX_PATH + 16];
    char partialPath[MAX_PATH + 16];
    std::snprintf(seenPath, sizeof seenPath, "%s.seen", ownPath);
    std::snprintf(partialPath, sizeof partialPath, "%s.partial", ownPath);
    char directory[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof directory, directory);
    FILE *out = std::fopen(partialPath, "wb");
    if (out == nullptr)
        return;
    std::fprintf(out, "commandline=%s\ncwd=%s\n", GetCommandLineA(), directory);
    std::fclose(out);
    // Renamed into place so that a reader never sees half a record.
    MoveFileExA(partialPath, seenPath, MOVEFILE_REPLACE_EXISTING);
}

} // namespace

int main(int argc, char **argv)
{
    // Asked by a person, not started by the plug-in: no record, no mode.
    if (AsksForHelp(argc, argv)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    char ownPath[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, ownPath, sizeof ownPath - 1);
    WriteSeen(ownPath);

    char modePath[MAX_PATH + 16];
    std::snprintf(modePath, sizeof modePath, "%s.mode", ownPath);
    char mode[512] = {};
    if (FILE *in = std::fopen(modePath, "rb")) {
        std::size_t got = std::fread(mode, 1, sizeof mode - 1, in);
        mode[got] = '\0';
        std::fclose(in);
    }
    mode[std::strcspn(mode, "\r\n")] = '\0';

    if (std::strncmp(mode, "wait ", 5) == 0) {
        HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, mode + 5);
        if (release != nullptr) {
            WaitForSingleObject(release, kLongestWaitMs);
            CloseHandle(release);
        }
        return 0;
    }
    if (std::strncmp(mode, "sleep ", 6) == 0) {
        DWORD ms = static_cast<DWORD>(std::strtoul(mode + 6, nullptr, 10));
        Sleep(ms < kLongestWaitMs ? ms : kLongestWaitMs);
        return 0;
    }
    if (std::strncmp(mode, "exit ", 5) == 0) {
        DWORD code = static_cast<DWORD>(std::strtoul(mode + 5, nullptr, 10));
        return static_cast<int>(code == kStillActive ? 1 : code);
    }
    return 0;
}
