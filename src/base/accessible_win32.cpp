#include "base/accessible_win32.h"

#include <commctrl.h>
#include <oleacc.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "base/bench_phases_win32.h"
#include "base/reading_order.h"
#include "base/wide.h"

namespace tarnell {

namespace {

// The interface id spelled out: mingw's oleacc import library exports IID_IAccessible as an import thunk.
const IID kIidAccessible = __uuidof(IAccessible);

bool IsSelf(const VARIANT& child) {
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
}

HRESULT ReturnText(const std::u16string& text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (text.empty()) return S_FALSE;
    *out = SysAllocStringLen(W(text), UINT(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

constexpr wchar_t kNotInTreeProp[] = L"Tarnell.NotInTree";

// A child window as the system lists it: its window's standard object.
HRESULT ChildObject(HWND child, IDispatch** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return AccessibleObjectFromWindow(child, DWORD(OBJID_WINDOW), IID_IDispatch,
                                      reinterpret_cast<void**>(out));
}

// The children, as AccessibleChildren asks for them first.
class ChildEnumerator final : public IEnumVARIANT {
  public:
    explicit ChildEnumerator(std::vector<HWND> children, ULONG at = 0)
        : children_(std::move(children)), at_(at) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (riid != IID_IUnknown && riid != IID_IEnumVARIANT) return E_NOINTERFACE;
        *out = static_cast<IEnumVARIANT*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return ULONG(left);
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) override {
        if (!items) return E_POINTER;
        ULONG done = 0;
        while (done < count && at_ < children_.size()) {
            VariantInit(&items[done]);
            IDispatch* object = nullptr;
            if (SUCCEEDED(ChildObject(children_[at_], &object)) && object) {
                items[done].vt = VT_DISPATCH;
                items[done].pdispVal = object;
            } else {
                items[done].vt = VT_I4;  // no object: the child by its position, as ids count from 1
                items[done].lVal = LONG(at_ + 1);
            }
            ++done;
            ++at_;
        }
        if (fetched) *fetched = done;
        return done == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        at_ = ULONG(std::min<size_t>(children_.size(), size_t(at_) + count));
        return at_ < children_.size() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        at_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** out) override {
        if (!out) return E_POINTER;
        *out = new ChildEnumerator(children_, at_);
        return S_OK;
    }

  private:
    LONG refs_ = 1;
    std::vector<HWND> children_;
    ULONG at_;
};

class AccessibleObject final : public IAccessible {
  public:
    AccessibleObject(HWND hwnd, std::weak_ptr<AccessibleInfo> info, IAccessible* standard)
        : hwnd_(hwnd), info_(std::move(info)), standard_(standard) {}
    ~AccessibleObject() {
        if (standard_) standard_->Release();
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == kIidAccessible) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        if (riid == IID_IEnumVARIANT) {
            if (info_.expired()) return E_NOINTERFACE;
            *out = static_cast<IEnumVARIANT*>(new ChildEnumerator(ReaderChildren(hwnd_)));
            return S_OK;
        }
        // IOleWindow (the window) is the standard object's.
        if (standard_ && riid == IID_IOleWindow) return standard_->QueryInterface(riid, out);
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return ULONG(left);
    }

    // IDispatch: not offered (readers use the IAccessible methods).
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible: the parts the info gives, for the window itself.
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        auto info = Info();
        if (!info) return CO_E_OBJNOTCONNECTED;
        if (!IsSelf(child) || !info->name)
            return Standard() ? standard_->get_accName(child, name) : E_INVALIDARG;
        return ReturnText(info->name(), name);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
        auto info = Info();
        if (!info) return CO_E_OBJNOTCONNECTED;
        if (!IsSelf(child))
            return Standard() ? standard_->get_accDescription(child, description) : E_INVALIDARG;
        return ReturnText(info->description ? info->description() : std::u16string(), description);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        auto info = Info();
        if (!info) return CO_E_OBJNOTCONNECTED;
        if (!role) return E_POINTER;
        if (!IsSelf(child) || info->role == 0)
            return Standard() ? standard_->get_accRole(child, role) : E_INVALIDARG;
        VariantInit(role);
        role->vt = VT_I4;
        role->lVal = info->role;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        auto info = Info();
        if (!info) return CO_E_OBJNOTCONNECTED;
        if (!state) return E_POINTER;
        if (!IsSelf(child) || (info->role == 0 && !info->state))
            return Standard() ? standard_->get_accState(child, state) : E_INVALIDARG;
        long bits = 0;
        if (!IsWindowVisible(hwnd_)) bits |= STATE_SYSTEM_INVISIBLE;
        if (!IsWindowEnabled(hwnd_)) bits |= STATE_SYSTEM_UNAVAILABLE;
        if (info->focusable) {
            bits |= STATE_SYSTEM_FOCUSABLE;
            if (GetFocus() == hwnd_) bits |= STATE_SYSTEM_FOCUSED;
        }
        if (info->state) bits |= info->state();
        VariantInit(state);
        state->vt = VT_I4;
        state->lVal = bits;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        auto info = Info();
        if (!info) return CO_E_OBJNOTCONNECTED;
        if (!IsSelf(child)) return Standard() ? standard_->get_accDefaultAction(child, action) : E_INVALIDARG;
        return ReturnText(info->defaultAction ? info->defaultAction() : std::u16string(), action);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        auto info = Info();
        if (!info) return CO_E_OBJNOTCONNECTED;
        if (!IsSelf(child)) return Standard() ? standard_->accDoDefaultAction(child) : E_INVALIDARG;
        if (!info->defaultAction) return DISP_E_MEMBERNOTFOUND;
        if (!IsWindowEnabled(hwnd_) || !IsWindowVisible(hwnd_)) return E_FAIL;
        return PostMessageW(hwnd_, BM_CLICK, 0, 0) ? S_OK : E_FAIL;
    }

    // IAccessible: the rest is the standard object's.
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        return Standard() ? standard_->get_accParent(parent) : CO_E_OBJNOTCONNECTED;
    }
    // The children: see ReaderChildren. Child ids count from 1 in that order.
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
        if (!Info()) return CO_E_OBJNOTCONNECTED;
        if (!count) return E_POINTER;
        *count = long(ReaderChildren(hwnd_).size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
        if (!Info()) return CO_E_OBJNOTCONNECTED;
        if (!out) return E_POINTER;
        *out = nullptr;
        if (child.vt != VT_I4) return E_INVALIDARG;
        const std::vector<HWND> children = ReaderChildren(hwnd_);
        if (child.lVal < 1 || size_t(child.lVal) > children.size()) return E_INVALIDARG;
        return ChildObject(children[size_t(child.lVal - 1)], out);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        return Standard() ? standard_->get_accValue(child, value) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
        return Standard() ? standard_->get_accHelp(child, help) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override {
        return Standard() ? standard_->get_accHelpTopic(file, child, topic) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
        return Standard() ? standard_->get_accKeyboardShortcut(child, shortcut) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        return Standard() ? standard_->get_accFocus(focus) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        return Standard() ? standard_->get_accSelection(selection) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
        return Standard() ? standard_->accSelect(flags, child) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                          VARIANT child) override {
        return Standard() ? standard_->accLocation(left, top, width, height, child) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
        if (!Info()) return CO_E_OBJNOTCONNECTED;
        if (IsSelf(start) && (direction == NAVDIR_FIRSTCHILD || direction == NAVDIR_LASTCHILD)) {
            if (!end) return E_POINTER;
            VariantInit(end);
            const std::vector<HWND> children = ReaderChildren(hwnd_);
            if (children.empty()) return S_FALSE;
            IDispatch* object = nullptr;
            const HRESULT hr =
                ChildObject(direction == NAVDIR_FIRSTCHILD ? children.front() : children.back(), &object);
            if (FAILED(hr) || !object) return FAILED(hr) ? hr : S_FALSE;
            end->vt = VT_DISPATCH;
            end->pdispVal = object;
            return S_OK;
        }
        return Standard() ? standard_->accNavigate(direction, start, end) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) override {
        return Standard() ? standard_->accHitTest(x, y, child) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

  private:
    std::shared_ptr<AccessibleInfo> Info() const { return info_.lock(); }
    bool Standard() const { return standard_ && !info_.expired(); }

    LONG refs_ = 1;
    HWND hwnd_;
    std::weak_ptr<AccessibleInfo> info_;
    IAccessible* standard_;
};

const UINT_PTR kSubclassId = 0x7A11;

LRESULT CALLBACK AccessibleSubclass(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                    DWORD_PTR data) {
    auto* holder = reinterpret_cast<std::shared_ptr<AccessibleInfo>*>(data);
    if (msg == WM_GETOBJECT && LONG(lParam) == OBJID_CLIENT && holder && *holder) {
        IAccessible* standard = nullptr;
        CreateStdAccessibleObject(hwnd, OBJID_CLIENT, kIidAccessible, reinterpret_cast<void**>(&standard));
        auto* object = new AccessibleObject(hwnd, *holder, standard);
        const LRESULT result = LresultFromObject(kIidAccessible, wParam, object);
        object->Release();
        return result;
    }
    if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, AccessibleSubclass, id);
        delete holder;
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

}  // namespace

void AttachAccessible(HWND hwnd, AccessibleInfo info) {
    if (!hwnd) return;
    BenchCostScope accessible(BenchCost::Accessible);
    auto* holder = new std::shared_ptr<AccessibleInfo>(std::make_shared<AccessibleInfo>(std::move(info)));
    if (!SetWindowSubclass(hwnd, AccessibleSubclass, kSubclassId, reinterpret_cast<DWORD_PTR>(holder)))
        delete holder;
}

LRESULT CALLBACK NotInTreeSubclass(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                   DWORD_PTR) {
    if (msg == WM_NCDESTROY) {
        RemovePropW(hwnd, kNotInTreeProp);
        RemoveWindowSubclass(hwnd, NotInTreeSubclass, id);
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

void HideFromReaders(HWND hwnd) {
    if (!hwnd || GetPropW(hwnd, kNotInTreeProp)) return;
    // The mark goes with the window (the subclass takes it off at the end).
    if (SetWindowSubclass(hwnd, NotInTreeSubclass, kSubclassId, 0))
        SetPropW(hwnd, kNotInTreeProp, reinterpret_cast<HANDLE>(1));
}

std::vector<HWND> ReaderChildren(HWND parent) {
    std::vector<HWND> shown;
    std::vector<PixelRect> places;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child) || GetPropW(child, kNotInTreeProp)) continue;
        RECT r{};
        GetWindowRect(child, &r);
        shown.push_back(child);
        places.push_back(PixelRect{r.left, r.top, r.right - r.left, r.bottom - r.top});
    }
    std::vector<HWND> ordered;
    for (size_t i : ReadingOrder(places)) ordered.push_back(shown[i]);
    return ordered;
}

void NotifyAccessible(DWORD event, HWND hwnd) {
    if (hwnd) NotifyWinEvent(event, hwnd, OBJID_CLIENT, CHILDID_SELF);
}

}  // namespace tarnell
