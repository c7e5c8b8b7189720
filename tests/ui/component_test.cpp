// The component model: ownership order, lookup by name, freeing, captions, and the caption walk over it.
#include "ui/component.h"

#include <doctest/doctest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "base/dpi_scale.h"
#include "base/text.h"
#include "translate/component_translation.h"
#include "translate/translation.h"

using namespace tarnell;

namespace {

std::vector<std::string>* g_freed = nullptr;

class Recorded : public TComponent {
  public:
    Recorded(TComponent* owner, std::u16string name, bool hasCaption = true)
        : TComponent(owner, std::move(name)) {
        SetHasCaption(hasCaption);
    }
    ~Recorded() override {
        if (g_freed) g_freed->push_back(Utf16ToUtf8(Name()));
    }
};

class FormComponent : public TComponent {
  public:
    using TComponent::TComponent;
    bool IsForm() const override { return true; }
};

std::vector<std::string> OwnedNames(const TComponent& c) {
    std::vector<std::string> names;
    for (size_t i = 0; i < c.OwnedCount(); ++i) names.push_back(Utf16ToUtf8(c.OwnedComponent(i)->Name()));
    return names;
}

}  // namespace

TEST_CASE("owned components keep creation order and are found by name in any letter case") {
    TComponent form(nullptr, u"FrmTarnell");
    auto* panel = form.Make<Recorded>(u"PnlMain");
    form.Make<Recorded>(u"Card1");
    form.Make<Recorded>(u"LblTitle");
    CHECK(OwnedNames(form) == std::vector<std::string>{"PnlMain", "Card1", "LblTitle"});
    CHECK(form.FindComponent(u"pnlmain") == panel);
    CHECK(form.FindComponent(u"PNLMAIN") == panel);
    CHECK(form.FindComponent(u"PnlHead") == nullptr);
    CHECK(panel->Owner() == &form);
}

TEST_CASE("an owner frees what it owns, last created first; a freed component leaves its owner's list") {
    std::vector<std::string> freed;
    g_freed = &freed;
    {
        TComponent form(nullptr, u"Form");
        auto* a = form.Make<Recorded>(u"A");
        a->Make<Recorded>(u"A1");
        form.Make<Recorded>(u"B");
        auto* c = form.Make<Recorded>(u"C");
        delete c;
        CHECK(OwnedNames(form) == std::vector<std::string>{"A", "B"});
        freed.clear();
    }
    g_freed = nullptr;
    CHECK(freed == std::vector<std::string>{"B", "A", "A1"});
}

TEST_CASE("the caption walk: form rule, controls in the language, caption-less components skipped") {
    LoadTranslationTableOnce([]() -> std::optional<std::string> {
        std::ifstream in(TARNELL_SOURCE_DIR "/resources/translate.txt", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    });
    REQUIRE(!TranslationTable().empty());

    FormComponent form(nullptr, u"FrmTarnell");
    form.SetCaption(u"타르넬");
    auto* title = form.Make<Recorded>(u"LblTitle");
    title->SetCaption(u"타르넬");
    auto* markup = form.Make<Recorded>(u"LblContent", false);
    markup->SetCaption(u"실행하기");  // held, but not a caption: the walk must leave it alone
    auto* inner = markup->Make<Recorded>(u"Inner");
    inner->SetCaption(u"실행하기");
    auto* option = form.Make<Recorded>(u"ChkTcpNoDelay");
    option->SetCaption(u"TcpNoDelay");

    struct Case {
        const char16_t* language;
        const char16_t* form;
        const char16_t* title;
        const char16_t* inner;
    };
    const Case cases[] = {
        {u"ja", u"Tarnell", u"タルネル", u"実行する"},
        {u"de", u"Tarnell", u"Tarnell", u"Run"},
        {u"ko", u"타르넬", u"타르넬", u"실행하기"},
    };
    for (const Case& c : cases) {
        CAPTURE(Utf16ToUtf8(c.language));
        TranslateComponent(&form, c.language);
        CHECK(Utf16ToUtf8(form.Caption()) == Utf16ToUtf8(c.form));
        CHECK(Utf16ToUtf8(title->Caption()) == Utf16ToUtf8(c.title));
        CHECK(Utf16ToUtf8(inner->Caption()) == Utf16ToUtf8(c.inner));
        CHECK(Utf16ToUtf8(markup->Caption()) == "실행하기");
        CHECK(Utf16ToUtf8(option->Caption()) == "TcpNoDelay");
    }
}

TEST_CASE("96-DPI values scale like MulDiv: to nearest, halves away from zero") {
    struct Case {
        int value, dpi, expected;
    };
    const Case cases[] = {
        {241, 144, 362},  // 361.5 rounds up
        {-59, 144, -89},  // -88.5 rounds away from zero
        {17, 120, 21},    // 21.25
        {498, 96, 498},  {32, 192, 64}, {0, 144, 0}, {15, 144, 23},
    };
    for (const Case& c : cases) {
        CAPTURE(c.value);
        CAPTURE(c.dpi);
        CHECK(ScaleForDpi(c.value, c.dpi) == c.expected);
    }
    CHECK(MulDivRound(5, 1, 0) == -1);
    CHECK(ScaleRect(Rect96{241, 282, 32, 32}, 144) == PixelRect{362, 423, 48, 48});
}
