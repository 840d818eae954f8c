#include "accessibility.h"

#include <new>

#include <ole2.h>
#include <oleacc.h>

#include "subclass.h"
#include "system_dlls.h"
#include "ui_globals.h"

namespace {

// Spelt out here: the library that defines them would also bring imports with it.
const IID ACCESSIBLE_IID = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
const IID DISPATCH_IID = {0x00020400, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID UNKNOWN_IID = {0x00000000, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

using LresultFromObjectProc = LRESULT(WINAPI*)(REFIID, WPARAM, LPUNKNOWN);
using CreateStdAccessibleObjectProc = HRESULT(WINAPI*)(HWND, LONG, REFIID, void**);
using SysAllocStringLenProc = BSTR(WINAPI*)(const OLECHAR*, UINT);
using CoInitializeExProc = HRESULT(WINAPI*)(LPVOID, DWORD);

// Loaded when assistive technology first asks, and kept: most players never need them.
struct AccessibilityLibrary {
    bool tried = false;
    bool ready = false;
    LresultFromObjectProc lresultFromObject = nullptr;
    CreateStdAccessibleObjectProc createStdAccessibleObject = nullptr;
    SysAllocStringLenProc sysAllocStringLen = nullptr;
};
AccessibilityLibrary g_library;

template <typename Proc>
Proc Find(HMODULE module, const char* name) {
    if (module == nullptr) return nullptr;
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

bool LoadAccessibility() {
    if (g_library.tried) return g_library.ready;
    g_library.tried = true;
    const HMODULE oleacc = LoadSystemDll("oleacc.dll");
    const HMODULE oleaut32 = LoadSystemDll("oleaut32.dll");
    const HMODULE ole32 = LoadSystemDll("ole32.dll");
    g_library.lresultFromObject = Find<LresultFromObjectProc>(oleacc, "LresultFromObject");
    g_library.createStdAccessibleObject =
        Find<CreateStdAccessibleObjectProc>(oleacc, "CreateStdAccessibleObject");
    g_library.sysAllocStringLen = Find<SysAllocStringLenProc>(oleaut32, "SysAllocStringLen");
    const auto coInitializeEx = Find<CoInitializeExProc>(ole32, "CoInitializeEx");
    if (g_library.lresultFromObject == nullptr || g_library.createStdAccessibleObject == nullptr ||
        g_library.sysAllocStringLen == nullptr || coInitializeEx == nullptr) {
        return false;
    }
    // The object is handed to another process through COM, which needs this thread in an
    // apartment. The window thread runs the message loop that an apartment's calls arrive
    // by; it stays there until the process ends. A thread already in one is fine as it is.
    const HRESULT joined = coInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    g_library.ready = SUCCEEDED(joined) || joined == RPC_E_CHANGED_MODE;
    return g_library.ready;
}

enum ControlKind { KIND_TOGGLE, KIND_EDIT, KIND_BUTTON, KIND_RESULT };

struct ControlDescription {
    HWND* handle;
    ControlKind kind;
    const wchar_t* name;  // null: named by the text it shows
};

// The result screen's controls come first: they are made after the input screen's have
// been destroyed, and a new window may be given a handle value that a destroyed one had.
const ControlDescription DESCRIPTIONS[] = {
    {&g_hExitButton, KIND_BUTTON, L"Exit"},
    {&g_hResultText, KIND_RESULT, nullptr},
    {&g_hToggleWidescreen, KIND_TOGGLE, L"Widescreen aspect ratio"},
    {&g_hToggleCamera, KIND_TOGGLE, L"Camera distance"},
    {&g_hToggleFov, KIND_TOGGLE, L"Field of view"},
    {&g_hToggleFps, KIND_TOGGLE, L"Unlock 60 FPS"},
    {&g_hEditCamera, KIND_EDIT, L"Camera distance"},
    {&g_hEditFov, KIND_EDIT, L"Screen width"},
    {&g_hEditDisplayWidth, KIND_EDIT, L"Display width"},
    {&g_hEditDisplayHeight, KIND_EDIT, L"Display height"},
    {&g_hApplyButton, KIND_BUTTON, L"Apply"},
    {&g_hCloseButton, KIND_BUTTON, L"Close"},
};

const ControlDescription* DescriptionOf(HWND control) {
    if (control == nullptr) return nullptr;
    for (const ControlDescription& description : DESCRIPTIONS) {
        if (*description.handle == control) return &description;
    }
    return nullptr;
}

BSTR NewString(const wchar_t* text, UINT length) { return g_library.sysAllocStringLen(text, length); }

// The window's text as assistive technology reads it, in UTF-16.
BSTR WindowText(HWND window) {
    char text[256] = {};
    SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    wchar_t wide[256] = {};
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 256);
    return NewString(wide, length > 0 ? static_cast<UINT>(length - 1) : 0);
}

bool IsSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

// The system's own object for the control does what this one does not change: where the
// control is, its parent and neighbours, focus and visibility.
class ControlAccessible final : public IAccessible {
public:
    ControlAccessible(HWND control, const ControlDescription& description, IAccessible* standard)
        : control_(control), description_(description), standard_(standard) {}
    ControlAccessible(const ControlAccessible&) = delete;
    ControlAccessible& operator=(const ControlAccessible&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == ACCESSIBLE_IID || iid == DISPATCH_IID || iid == UNKNOWN_IID) {
            *object = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        return standard_->GetTypeInfoCount(count);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
        return standard_->GetTypeInfo(index, locale, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override {
        return standard_->GetIDsOfNames(iid, names, count, locale, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID locale, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* badArgument) override {
        return standard_->Invoke(member, iid, locale, flags, params, result, exception, badArgument);
    }

    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        if (name == nullptr) return E_POINTER;
        *name = nullptr;
        if (!IsSelf(child)) return E_INVALIDARG;
        if (!IsWindow(control_)) return E_FAIL;
        *name = description_.name != nullptr
                    ? NewString(description_.name, static_cast<UINT>(lstrlenW(description_.name)))
                    : WindowText(control_);
        return *name != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        if (description_.kind != KIND_EDIT || !IsSelf(child)) return standard_->get_accValue(child, value);
        if (value == nullptr) return E_POINTER;
        *value = IsWindow(control_) ? WindowText(control_) : nullptr;
        return *value != nullptr ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (role == nullptr) return E_POINTER;
        role->vt = VT_EMPTY;
        if (!IsSelf(child)) return E_INVALIDARG;
        static const LONG ROLES[] = {ROLE_SYSTEM_CHECKBUTTON, ROLE_SYSTEM_TEXT,
                                     ROLE_SYSTEM_PUSHBUTTON, ROLE_SYSTEM_STATICTEXT};
        role->vt = VT_I4;
        role->lVal = ROLES[description_.kind];
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        const HRESULT result = standard_->get_accState(child, state);
        if (FAILED(result) || !IsSelf(child) || state->vt != VT_I4) return result;
        if (description_.kind == KIND_TOGGLE) {
            state->lVal &= ~STATE_SYSTEM_CHECKED;
            if (IsToggleBoxOn(control_)) state->lVal |= STATE_SYSTEM_CHECKED;
        } else if (description_.kind == KIND_RESULT) {
            // The alert level goes with the alert that announced the text.
            state->lVal |= STATE_SYSTEM_READONLY | STATE_SYSTEM_ALERT_MEDIUM;
        }
        return result;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        if (!IsSelf(child) || (description_.kind != KIND_TOGGLE && description_.kind != KIND_BUTTON)) {
            return standard_->get_accDefaultAction(child, action);
        }
        if (action == nullptr) return E_POINTER;
        const wchar_t* text = description_.kind == KIND_BUTTON ? L"Press"
                              : IsToggleBoxOn(control_)        ? L"Uncheck"
                                                               : L"Check";
        *action = NewString(text, static_cast<UINT>(lstrlenW(text)));
        return *action != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    // Posted, so that the caller is not held up by what the action sets off: a toggle is
    // switched as by a press of the mouse on it; a button reports its click to the main
    // window as the system does when it is clicked.
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        if (!IsSelf(child) || (description_.kind != KIND_TOGGLE && description_.kind != KIND_BUTTON)) {
            return standard_->accDoDefaultAction(child);
        }
        if (!IsWindow(control_)) return E_FAIL;
        if (description_.kind == KIND_TOGGLE) {
            PostMessageA(control_, WM_LBUTTONDOWN, MK_LBUTTON, 0);
            PostMessageA(control_, WM_LBUTTONUP, 0, 0);
        } else {
            const WPARAM command = MAKEWPARAM(GetDlgCtrlID(control_), BN_CLICKED);
            PostMessageA(GetParent(control_), WM_COMMAND, command, reinterpret_cast<LPARAM>(control_));
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        return standard_->get_accParent(parent);
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
        return standard_->get_accChildCount(count);
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
        return standard_->get_accChild(child, object);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
        return standard_->get_accDescription(child, description);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
        return standard_->get_accHelp(child, help);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
        return standard_->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
        return standard_->get_accKeyboardShortcut(child, shortcut);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override { return standard_->get_accFocus(child); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override {
        return standard_->get_accSelection(children);
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
        return standard_->accSelect(flags, child);
    }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                          VARIANT child) override {
        return standard_->accLocation(left, top, width, height, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
        return standard_->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) override {
        return standard_->accHitTest(x, y, child);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override {
        return standard_->put_accName(child, name);
    }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
        return standard_->put_accValue(child, value);
    }

private:
    ~ControlAccessible() { standard_->Release(); }

    LONG refs_ = 1;
    HWND control_;
    const ControlDescription& description_;
    IAccessible* standard_;
};

void Announce(DWORD event, HWND control) { NotifyWinEvent(event, control, OBJID_CLIENT, CHILDID_SELF); }

}  // namespace

LRESULT AnswerAccessibleObject(HWND control, WPARAM wParam, LPARAM lParam) {
    // The object identifier is a DWORD, which a 64-bit LPARAM carries without sign.
    if (static_cast<DWORD>(lParam) != static_cast<DWORD>(OBJID_CLIENT)) return 0;
    const ControlDescription* description = DescriptionOf(control);
    if (description == nullptr || !LoadAccessibility()) return 0;
    IAccessible* standard = nullptr;
    if (FAILED(g_library.createStdAccessibleObject(control, OBJID_CLIENT, ACCESSIBLE_IID,
                                                   reinterpret_cast<void**>(&standard))) ||
        standard == nullptr) {
        return 0;
    }
    ControlAccessible* object = new (std::nothrow) ControlAccessible(control, *description, standard);
    if (object == nullptr) {
        standard->Release();
        return 0;
    }
    const LRESULT answer = g_library.lresultFromObject(ACCESSIBLE_IID, wParam, object);
    object->Release();
    // A failure comes back as a negative HRESULT: the stock answer is better than none.
    return answer > 0 ? answer : 0;
}

void AnnounceToggleChange(HWND box) { Announce(EVENT_OBJECT_STATECHANGE, box); }

// The text is the object's name, so its change is a change of name; the alert asks screen
// readers to read it out although the focus is elsewhere.
void AnnounceResultText(HWND text) {
    Announce(EVENT_OBJECT_NAMECHANGE, text);
    Announce(EVENT_SYSTEM_ALERT, text);
}
