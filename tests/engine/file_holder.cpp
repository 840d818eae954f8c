// file_holder FILE [READY_EVENT RELEASE_EVENT]
//   Holds FILE open with share mode 0, as a running game holds its executable, so that the
//   engine's tests can see a file that another process has open. With the two event names
//   it sets READY_EVENT once the file is open and lets go when RELEASE_EVENT is set (or
//   after two minutes, so that a failed test leaves no holder behind). Without them it holds
//   the file until its standard input ends, and prints "holding FILE" once it holds it.
//   Exit code 0 when it held the file, 2 when the file could not be opened, 3 on a wrong
//   command line or a failed wait.

#include <windows.h>

#include <cstdio>

namespace {

const DWORD LONGEST_HOLD_MS = 120000;

int HoldUntilReleased(const char* readyName, const char* releaseName) {
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, readyName);
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, releaseName);
    if (ready == nullptr || release == nullptr) {
        std::fprintf(stderr, "file_holder: events %s / %s: error %lu\n", readyName, releaseName, GetLastError());
        return 3;
    }
    SetEvent(ready);
    const DWORD waited = WaitForSingleObject(release, LONGEST_HOLD_MS);
    CloseHandle(ready);
    CloseHandle(release);
    return waited == WAIT_OBJECT_0 ? 0 : 3;
}

int HoldUntilInputEnds() {
    char line[256];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: file_holder FILE [READY_EVENT RELEASE_EVENT]\n");
        return 3;
    }
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "file_holder: cannot open %s: error %lu\n", argv[1], GetLastError());
        return 2;
    }
    int code = 0;
    if (argc == 4) {
        code = HoldUntilReleased(argv[2], argv[3]);
    } else {
        std::printf("holding %s\n", argv[1]);
        std::fflush(stdout);
        code = HoldUntilInputEnds();
    }
    CloseHandle(file);
    return code;
}
