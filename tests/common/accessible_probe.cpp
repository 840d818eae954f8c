#include "accessible_probe.h"

#include <ole2.h>
#include <oleacc.h>

#include <cstdio>

namespace {

const IID ACCESSIBLE_IID = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

std::string Utf8(BSTR text) {
    if (text == nullptr) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    return out;
}

std::string Hex(HRESULT result) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
    return text;
}

// A BSTR property, or the failure in *why.
template <typename Getter>
std::string ReadText(Getter get, const char* what, std::string* why) {
    BSTR text = nullptr;
    const HRESULT result = get(&text);
    std::string out = Utf8(text);
    SysFreeString(text);
    if (FAILED(result)) *why += std::string(what) + " failed with " + Hex(result) + "; ";
    return out;
}

}  // namespace

AccessibleFacts ProbeAccessible(HWND window) {
    static const HRESULT joined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    (void)joined;
    AccessibleFacts facts;
    IAccessible* object = nullptr;
    const HRESULT found = AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT),
                                                     ACCESSIBLE_IID, reinterpret_cast<void**>(&object));
    if (FAILED(found) || object == nullptr) {
        facts.why = "AccessibleObjectFromWindow failed with " + Hex(found);
        return facts;
    }
    facts.found = true;
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    facts.name = ReadText([&](BSTR* out) { return object->get_accName(self, out); }, "name", &facts.why);
    facts.value = ReadText([&](BSTR* out) { return object->get_accValue(self, out); }, "value", &facts.why);
    facts.defaultAction = ReadText([&](BSTR* out) { return object->get_accDefaultAction(self, out); },
                                   "default action", &facts.why);
    VARIANT role;
    VariantInit(&role);
    if (SUCCEEDED(object->get_accRole(self, &role)) && role.vt == VT_I4) facts.role = role.lVal;
    VariantClear(&role);
    VARIANT state;
    VariantInit(&state);
    if (SUCCEEDED(object->get_accState(self, &state)) && state.vt == VT_I4) facts.state = state.lVal;
    VariantClear(&state);
    object->Release();
    return facts;
}

std::string RoleName(long role) {
    switch (role) {
    case ROLE_SYSTEM_CHECKBUTTON: return "check button";
    case ROLE_SYSTEM_PUSHBUTTON: return "push button";
    case ROLE_SYSTEM_TEXT: return "editable text";
    case ROLE_SYSTEM_STATICTEXT: return "static text";
    case ROLE_SYSTEM_CLIENT: return "client";
    }
    return "role " + std::to_string(role);
}
