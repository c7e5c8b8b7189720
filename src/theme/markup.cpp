#include "theme/markup.h"

#include <algorithm>
#include <climits>
#include <optional>

#include "base/text.h"

namespace tarnell {

namespace {

// ---- Reading -------------------------------------------------------------------------------------

enum class ParamRule { None, Optional, Required };

struct TagDefinition {
    const char16_t* name;  // upper case
    MarkupTag tag;
    bool block;
    ParamRule param;
};

constexpr TagDefinition kTags[] = {
    {u"B", MarkupTag::Bold, true, ParamRule::Optional},
    {u"C", MarkupTag::Center, true, ParamRule::None},
    {u"FC", MarkupTag::FontColor, true, ParamRule::Required},
    {u"BR", MarkupTag::LineBreak, false, ParamRule::None},
};

const TagDefinition* FindTag(std::u16string_view upperName) {
    for (const auto& def : kTags) {
        if (upperName == def.name) return &def;
    }
    return nullptr;
}

const char16_t* TagName(MarkupTag tag) {
    for (const auto& def : kTags) {
        if (def.tag == tag) return def.name;
    }
    return u"";
}

bool IsStopChar(char16_t c) {
    return c == u' ' || c == u'/' || c == u'\\' || c == u'<' || c == u'>' || c == u'\r' || c == u'\n';
}

bool IsWordBreakChar(char16_t c) {
    return (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF);
}

std::u16string_view Trim(std::u16string_view s) {
    while (!s.empty() && s.front() <= u' ') s.remove_prefix(1);
    while (!s.empty() && s.back() <= u' ') s.remove_suffix(1);
    return s;
}

void ReplaceAll(std::u16string& s, std::u16string_view from, std::u16string_view to) {
    size_t pos = 0;
    while ((pos = s.find(from, pos)) != std::u16string::npos) {
        s.replace(pos, from.size(), to);
        pos += to.size();
    }
}

std::u16string Unescape(std::u16string_view word) {
    std::u16string s(word);
    ReplaceAll(s, u"&lt;", u"<");
    ReplaceAll(s, u"&gt;", u">");
    ReplaceAll(s, u"&amp;", u"&");
    return s;
}

class Reader {
  public:
    explicit Reader(bool autoBreak) : autoBreak_(autoBreak) {
        doc_.tokens.emplace_back();
        doc_.tokens[0].kind = MarkupToken::Kind::Block;
        doc_.tokens[0].tag = MarkupTag::Root;
    }

    MarkupDocument Read(std::u16string_view text) {
        size_t i = 0;
        const size_t n = text.size();
        while (i < n) {
            const char16_t c = text[i];
            if (c == u'<') {
                const size_t close = text.find(u'>', i + 1);
                if (close == std::u16string_view::npos) {
                    Error(i, u"Char \"<\" left alone");
                    ++i;
                    continue;
                }
                const std::u16string_view tagText = text.substr(i + 1, close - i - 1);
                if (auto reason = Interpret(tagText)) {
                    std::u16string description = AsciiLowerCase(tagText);
                    description.insert(description.begin(), u'<');
                    description.append(u"> - ").append(*reason);
                    Error(i, std::move(description));
                }
                i = close + 1;
            } else if (c == u'>') {
                Error(i, u"Char \">\" left alone");
                ++i;
            } else if (c == u'\r' || c == u'\n') {
                ++i;
                if (c == u'\r' && i < n && text[i] == u'\n') ++i;
                bool hard = autoBreak_;
                if (EqualsAsciiNoCase(text.substr(i, 5), u"<NBR>")) {
                    i += 5;
                    hard = false;
                }
                MarkupToken br;
                br.kind = MarkupToken::Kind::Break;
                br.hard = hard;
                Append(std::move(br));
            } else {
                size_t end = i + 1;
                bool breakable = IsStopChar(c) || IsWordBreakChar(c);
                if (!breakable) {
                    while (end < n && !IsStopChar(text[end]) && !IsWordBreakChar(text[end])) ++end;
                }
                AddWord(Unescape(text.substr(i, end - i)), breakable);
                i = end;
            }
        }
        CloseOpenBlocks(n);
        return std::move(doc_);
    }

  private:
    void Append(MarkupToken token) {
        token.parent = current_;
        doc_.tokens.push_back(std::move(token));
        const int index = int(doc_.tokens.size() - 1);
        doc_.tokens[current_].children.push_back(index);
    }

    void AddWord(std::u16string word, bool breakable) {
        MarkupToken token;
        token.kind = MarkupToken::Kind::Word;
        token.word = std::move(word);
        token.breakable = breakable;
        Append(std::move(token));
    }

    void Error(size_t position, std::u16string description) {
        doc_.errors.push_back({position, std::move(description)});
        AddWord(kMarkupFaultMarker, true);
    }

    // Empty when the tag was accepted, else the reason it was not.
    std::optional<std::u16string> Interpret(std::u16string_view tagText) {
        const bool closing = !tagText.empty() && tagText.front() == u'/';
        if (closing) tagText.remove_prefix(1);

        std::u16string_view name = tagText, param;
        const size_t colon = tagText.find(u':');
        const bool hasParam = colon != std::u16string_view::npos;
        if (hasParam) {
            // Only a tag with a parameter has its parts trimmed; "<B >" names no tag.
            name = Trim(tagText.substr(0, colon));
            param = Trim(tagText.substr(colon + 1));
            if (param.empty()) return u"Blank parameter specified";
            if (closing) return u"Parameter not allowed in closing tag";
        }
        if (name.empty()) return u"Blank tag";
        const TagDefinition* def = FindTag(AsciiUpperCase(name));
        if (!def) return u"Invalid tag";

        if (closing) {
            if (!def->block) return u"Single tag does not allow closing tag";
            if (doc_.tokens[current_].tag != def->tag) return u"Not the current tag to close";
            current_ = doc_.tokens[current_].parent;
            return std::nullopt;
        }
        if (hasParam && def->param == ParamRule::None) return u"Parameter not allowed";
        if (!hasParam && def->param == ParamRule::Required) return u"Parameter required";

        MarkupToken token;
        if (!def->block) {  // BR
            token.kind = MarkupToken::Kind::Break;
            token.hard = true;
            Append(std::move(token));
            return std::nullopt;
        }
        token.kind = MarkupToken::Kind::Block;
        token.tag = def->tag;
        if (hasParam) {
            if (def->tag == MarkupTag::Bold) {
                token.boldOff = EqualsAsciiNoCase(param, u"off");
            } else if (def->tag == MarkupTag::FontColor) {
                if (!MarkupColorFromName(param, token.color)) return u"Invalid parameter";
            }
        }
        Append(std::move(token));
        current_ = int(doc_.tokens.size() - 1);
        return std::nullopt;
    }

    void CloseOpenBlocks(size_t end) {
        // Markers go to the innermost open block, one per block left open.
        for (int block = current_; block != 0; block = doc_.tokens[block].parent) {
            doc_.errors.push_back(
                {end, u"Missing closing tag <" + AsciiLowerCase(TagName(doc_.tokens[block].tag)) + u">"});
            AddWord(kMarkupFaultMarker, true);
        }
    }

    bool autoBreak_;
    MarkupDocument doc_;
    int current_ = 0;
};

// ---- Laying out ----------------------------------------------------------------------------------

struct FormatState {
    MarkupFont font;
    THorzAlign horz;
    TVertAlign vert;
};

// A run, or a hard break (with the height a line without runs gets at that point).
struct Item {
    bool isBreak = false;
    int emptyLineHeight = 0;
    MarkupRun run;
};

class Flattener {
  public:
    Flattener(const MarkupDocument& doc, TextMeasurer& measurer) : doc_(doc), measurer_(measurer) {}

    // Walks the tree in order with an explicit stack of open blocks rather than by recursion, so the
    // nesting depth is bounded by the text's length, not by the thread's stack.
    std::vector<Item> Flatten(FormatState state) {
        struct OpenBlock {
            int index;
            size_t nextChild;
            FormatState saved;  // restored when the block ends: nesting acts as a stack
        };
        std::vector<OpenBlock> open;
        open.push_back({0, 0, state});
        while (!open.empty()) {
            const MarkupToken& block = doc_.tokens[open.back().index];
            if (open.back().nextChild == block.children.size()) {
                state = std::move(open.back().saved);
                open.pop_back();
                continue;
            }
            const int child = block.children[open.back().nextChild++];
            const MarkupToken& token = doc_.tokens[child];
            if (token.kind == MarkupToken::Kind::Block) {
                open.push_back({child, 0, state});
                Apply(token, state);
            } else {
                Leaf(token, state);
            }
        }
        return std::move(items_);
    }

  private:
    static void Apply(const MarkupToken& block, FormatState& state) {
        switch (block.tag) {
            case MarkupTag::Bold:
                if (block.boldOff)
                    state.font.style &= TFontStyles(~fsBold);
                else
                    state.font.style |= fsBold;
                break;
            case MarkupTag::Center:
                state.horz = THorzAlign::haCenter;
                break;
            case MarkupTag::FontColor:
                state.font.color = block.color;
                break;
            default:
                break;
        }
    }

    void Leaf(const MarkupToken& token, const FormatState& state) {
        if (token.kind == MarkupToken::Kind::Word) {
            if (pendingSpace_) {
                pendingSpace_ = false;
                AddRun(u" ", true, state);
            }
            AddRun(token.word, token.breakable, state);
        } else if (token.hard) {
            Item item;
            item.isBreak = true;
            item.emptyLineHeight = measurer_.Measure(u" ", state.font).height;
            items_.push_back(std::move(item));
            pendingSpace_ = false;
        } else {
            pendingSpace_ = !items_.empty() && !items_.back().isBreak && items_.back().run.text != u" ";
        }
    }

    void AddRun(std::u16string_view text, bool breakable, const FormatState& state) {
        Item item;
        item.run.text = std::u16string(text);
        item.run.font = state.font;
        const TextSize size = measurer_.Measure(text, state.font);
        item.run.width = size.width;
        item.run.height = size.height;
        item.run.breakable = breakable;
        item.run.horzAlign = state.horz;
        item.run.vertAlign = state.vert;
        items_.push_back(std::move(item));
    }

    const MarkupDocument& doc_;
    TextMeasurer& measurer_;
    std::vector<Item> items_;
    bool pendingSpace_ = false;
};

bool IsSpaceRun(const MarkupRun& run) {
    return run.text == u" ";
}

class LineBreaker {
  public:
    LineBreaker(int available, TextMeasurer& measurer) : available_(available), measurer_(measurer) {
        lines_.emplace_back();
    }

    void Run(const std::vector<Item>& items, int finalEmptyHeight) {
        std::vector<const MarkupRun*> group;
        auto flush = [&] {
            if (!group.empty()) Place(group);
            group.clear();
        };
        for (const Item& item : items) {
            if (item.isBreak) {
                flush();
                Finish(item.emptyLineHeight);
                lines_.emplace_back();
            } else if (item.run.breakable) {
                flush();
                group.push_back(&item.run);
                flush();
            } else {
                group.push_back(&item.run);
            }
        }
        flush();
        Finish(finalEmptyHeight);
    }

    std::vector<MarkupLine> Take() { return std::move(lines_); }

  private:
    void Place(const std::vector<const MarkupRun*>& group) {
        int groupWidth = 0;
        for (const MarkupRun* run : group) groupWidth += run->width;

        MarkupLine* line = &lines_.back();
        if (!line->runs.empty() && line->width + groupWidth > available_) {
            bool removedSpace = false;
            if (IsSpaceRun(line->runs.back())) {
                line->width -= line->runs.back().width;
                line->runs.pop_back();
                removedSpace = true;
            }
            // A line whose only run was that space is left without runs: it is as high as a space in
            // the font current where the line ended, the font of the group that wrapped.
            if (line->runs.empty()) line->height = measurer_.Measure(u" ", group.front()->font).height;
            lines_.emplace_back();
            line = &lines_.back();
            if (group.size() == 1 && IsSpaceRun(*group.front()) && !removedSpace) return;
        }
        for (const MarkupRun* run : group) {
            line->runs.push_back(*run);
            line->width += run->width;
        }
    }

    // Sets the height of the line just ended; a line without runs is as high as a space.
    void Finish(int emptyHeight) {
        MarkupLine& line = lines_.back();
        if (line.runs.empty()) line.height = emptyHeight;
    }

    int available_;
    TextMeasurer& measurer_;
    std::vector<MarkupLine> lines_;
};

}  // namespace

bool MarkupColorFromName(std::u16string_view name, TColor& color) {
    struct Named {
        const char16_t* name;
        TColor color;
    };
    static constexpr Named kColors[] = {
        {u"clBlack", 0x000000},
        {u"clMaroon", 0x000080},
        {u"clGreen", 0x008000},
        {u"clOlive", 0x008080},
        {u"clNavy", 0x800000},
        {u"clPurple", 0x800080},
        {u"clTeal", 0x808000},
        {u"clGray", 0x808080},
        {u"clSilver", 0xC0C0C0},
        {u"clRed", 0x0000FF},
        {u"clLime", 0x00FF00},
        {u"clYellow", 0x00FFFF},
        {u"clBlue", 0xFF0000},
        {u"clFuchsia", 0xFF00FF},
        {u"clAqua", 0xFFFF00},
        {u"clWhite", 0xFFFFFF},
        {u"clMoneyGreen", 0xC0DCC0},
        {u"clSkyBlue", 0xF0CAA6},
        {u"clCream", 0xF0FBFF},
        {u"clMedGray", 0xA4A0A0},
        {u"clLtGray", 0xC0C0C0},
        {u"clDkGray", 0x808080},
        {u"clWindowText", clWindowText},
        {u"clGrayText", clGrayText},
        {u"clWindow", 0xFF000005},
        {u"clBtnFace", 0xFF00000F},
        {u"clBtnText", 0xFF000012},
        {u"clHighlight", 0xFF00000D},
        {u"clHighlightText", 0xFF00000E},
        {u"clNone", clNone},
    };
    for (const auto& entry : kColors) {
        if (EqualsAsciiNoCase(name, entry.name)) {
            if (entry.color == clNone) return false;
            color = entry.color;
            return true;
        }
    }
    return false;
}

std::u16string MarkupLabelText(std::u16string_view text) {
    if (!text.empty() && text.back() == u'\n') text.remove_suffix(1);
    if (!text.empty() && text.back() == u'\r') text.remove_suffix(1);
    return std::u16string(text);
}

MarkupDocument ParseMarkup(std::u16string_view text, bool autoBreak) {
    return Reader(autoBreak).Read(text);
}

int HalfRoundedToEven(int value) {
    int half = value >= 0 ? value / 2 : -((-value + 1) / 2);  // floor(value / 2)
    if (value % 2 != 0 && half % 2 != 0) ++half;              // an odd value sits halfway: take the even side
    return half;
}

MarkupLayout LayoutMarkup(std::u16string_view text, const MarkupFont& font, const MarkupOptions& options,
                          TextMeasurer& measurer) {
    MarkupDocument doc = ParseMarkup(text, options.autoBreak);
    MarkupLayout layout;
    layout.errors = std::move(doc.errors);

    const FormatState start{font, options.lineHorzAlign, options.lineVertAlign};
    const std::vector<Item> items = Flattener(doc, measurer).Flatten(start);

    const int available = options.width - options.borderLeft - options.borderRight;
    const int availableHeight = options.height - options.borderTop - options.borderBottom;
    LineBreaker breaker(options.wordWrap ? available : INT_MAX, measurer);
    breaker.Run(items, measurer.Measure(u" ", font).height);
    layout.lines = breaker.Take();

    int top = 0, widest = 0;
    for (auto& line : layout.lines) {
        int x = 0;
        for (auto& run : line.runs) {
            run.x = x;
            x += run.width;
            line.height = std::max(line.height, run.height);
        }
        line.top = top;
        top += line.height;
        widest = std::max(widest, line.width);
    }
    layout.textHeight = top;

    const bool overallAligned = options.overallHorzAlign != THorzAlign::haLeft;
    const int reference = overallAligned ? widest : available;
    int overallX = 0, overallY = 0;
    switch (options.overallHorzAlign) {
        case THorzAlign::haLeft:
            break;
        case THorzAlign::haCenter:
            overallX = HalfRoundedToEven(available - widest);
            break;
        case THorzAlign::haRight:
            overallX = available - widest;
            break;
    }
    switch (options.overallVertAlign) {
        case TVertAlign::vaTop:
            break;
        case TVertAlign::vaCenter:
            overallY = HalfRoundedToEven(availableHeight - layout.textHeight);
            break;
        case TVertAlign::vaBottom:
            overallY = availableHeight - layout.textHeight;
            break;
    }

    for (auto& line : layout.lines) {
        for (auto& run : line.runs) {
            int dx = 0, dy = 0;
            switch (run.horzAlign) {
                case THorzAlign::haLeft:
                    break;
                case THorzAlign::haCenter:
                    dx = HalfRoundedToEven(reference - line.width);
                    break;
                case THorzAlign::haRight:
                    dx = reference - line.width;
                    break;
            }
            switch (run.vertAlign) {
                case TVertAlign::vaTop:
                    break;
                case TVertAlign::vaCenter:
                    dy = HalfRoundedToEven(line.height - run.height);
                    break;
                case TVertAlign::vaBottom:
                    dy = line.height - run.height;
                    break;
            }
            run.x += dx + overallX + options.borderLeft;
            run.y = line.top + dy + overallY + options.borderTop;
        }
    }
    return layout;
}

}  // namespace tarnell
