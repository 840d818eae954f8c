#include "apply_action.h"

#include "apply_inputs.h"
#include "auto_close_handle.h"
#include "bounded_text.h"
#include "patch_job.h"
#include "patch_worker.h"
#include "result_screen.h"
#include "system_calls.h"
#include "ui_globals.h"

namespace {

template <size_t N>
void ReadField(HWND edit, char (&text)[N]) {
    text[0] = '\0';
    SendMessageA(edit, WM_GETTEXT, N, reinterpret_cast<LPARAM>(text));
}

// Runs the job on a worker thread and waits for its end. False when no thread could be
// started: then the worker never ran and no file was touched.
bool RunWorker(PatchJob* job) {
    const uintptr_t thread = g_pfnBeginThreadEx(nullptr, 0, PatchWorker, job, 0, nullptr);
    if (thread == 0) return false;
    const AutoCloseHandle handle(reinterpret_cast<HANDLE>(thread));
    WaitForSingleObject(handle.get(), INFINITE);
    return true;
}

void DestroyInputScreen() {
    HWND* const inputControls[] = {
        &g_hLabelCamera, &g_hLabelFov,         &g_hLabelWidescreen, &g_hLabelDisplay,
        &g_hLabelFps,    &g_hEditCamera,       &g_hEditFov,         &g_hEditDisplayWidth,
        &g_hEditDisplayHeight, &g_hToggleCamera, &g_hToggleFov,     &g_hToggleWidescreen,
        &g_hToggleFps,   &g_hApplyButton,
    };
    for (HWND* control : inputControls) DestroyWindow(*control);
}

}  // namespace

INT_PTR RunApply(HWND hwnd) {
    char BuffWidth[256], BuffHeight[256], BuffDist[256], BuffFov[256];
    ReadField(g_hEditDisplayWidth, BuffWidth);
    ReadField(g_hEditDisplayHeight, BuffHeight);
    ReadField(g_hEditCamera, BuffDist);
    ReadField(g_hEditFov, BuffFov);

    // Values that would write garbage into the game are refused before anything starts:
    // no job, no thread, no file; the input screen stays for another try.
    const InputTexts texts = {BuffWidth, BuffHeight, BuffDist, BuffFov};
    PatchJob values = {};
    for (int rule = 0; rule < RULE_COUNT; ++rule) values.requests[rule].on = g_bFeatureToggles[rule] != 0;
    char message[PATCH_TEXT_SIZE] = {};
    if (FillJobValues(texts, &values, message) != INPUT_OK) {
        g_pfnMessageBoxA(hwnd, message, "Info", MB_OK | MB_ICONWARNING);
        return 1;
    }

    g_pPatchJob = new PatchJob(values);
    if (!RunWorker(g_pPatchJob)) {
        // Nothing ran, so nothing changed on disk: say so and keep the input screen, with
        // the job gone again, so that Apply can simply be pressed once more.
        delete g_pPatchJob;
        g_pPatchJob = nullptr;
        g_pfnMessageBoxA(hwnd,
                         "The patch could not be started: the system refused a new thread.\r\n"
                         "No file was changed. Press Apply to try again.",
                         "Info", MB_OK | MB_ICONWARNING);
        return 1;
    }

    DestroyInputScreen();
    return BuildResultScreen(hwnd, *g_pPatchJob);
}
