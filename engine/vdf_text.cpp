#include "vdf_text.h"

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

char Folded(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameButForCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (Folded(a[i]) != Folded(b[i])) return false;
    }
    return i == a.size() && b[i] == '\0';
}

enum TokenKind { TOKEN_END, TOKEN_TEXT, TOKEN_OPEN, TOKEN_CLOSE, TOKEN_CONDITION, TOKEN_BAD };

class Reader {
public:
    explicit Reader(const std::string& text) : text_(text) {
        // A byte order mark from an editor is not part of the first key.
        if (text_.compare(0, 3, "\xEF\xBB\xBF") == 0) at_ = 3;
    }

    TokenKind Next(std::string* token) {
        SkipBlanksAndComments();
        token->clear();
        if (at_ >= text_.size()) return TOKEN_END;
        line_of_token_ = line_;
        const char c = text_[at_];
        if (c == '{') return ++at_, TOKEN_OPEN;
        if (c == '}') return ++at_, TOKEN_CLOSE;
        if (c == '[') return Condition(token);
        if (c == '"') return Quoted(token);
        while (at_ < text_.size() && !IsSpace(text_[at_]) && text_[at_] != '{' && text_[at_] != '}' &&
               text_[at_] != '"') {
            *token += text_[at_++];
        }
        return TOKEN_TEXT;
    }

    size_t line() const { return line_of_token_; }

private:
    void SkipBlanksAndComments() {
        while (at_ < text_.size()) {
            if (text_[at_] == '\n') ++line_;
            if (IsSpace(text_[at_])) {
                ++at_;
            } else if (text_.compare(at_, 2, "//") == 0) {
                while (at_ < text_.size() && text_[at_] != '\n') ++at_;
            } else {
                break;
            }
        }
    }

    TokenKind Quoted(std::string* token) {
        for (++at_; at_ < text_.size(); ++at_) {
            char c = text_[at_];
            if (c == '"') return ++at_, TOKEN_TEXT;
            if (c == '\n') ++line_;
            if (c == '\\' && at_ + 1 < text_.size()) {
                switch (text_[++at_]) {
                case 'n': c = '\n'; break;
                case 't': c = '\t'; break;
                case '\\': c = '\\'; break;
                case '"': c = '"'; break;
                default: *token += '\\'; c = text_[at_]; break;  // not an escape: kept as written
                }
            }
            *token += c;
        }
        return TOKEN_BAD;
    }

    TokenKind Condition(std::string* token) {
        for (++at_; at_ < text_.size(); ++at_) {
            if (text_[at_] == ']') return ++at_, TOKEN_CONDITION;
            if (text_[at_] == '\n') break;
            *token += text_[at_];
        }
        return TOKEN_BAD;
    }

    const std::string& text_;
    size_t at_ = 0;
    size_t line_ = 1;
    size_t line_of_token_ = 1;
};

bool Fail(std::string* error, const Reader& reader, const char* what) {
    *error = std::string(what) + " in line " + std::to_string(reader.line());
    return false;
}

// Reads pairs into `node` until its closing brace (or the end of the text, at the top).
bool ReadBlock(Reader& reader, VdfNode* node, bool top, int depth, std::string* error) {
    std::string token;
    for (;;) {
        TokenKind kind = reader.Next(&token);
        if (kind == TOKEN_CONDITION) continue;
        if (kind == TOKEN_END) return top ? true : Fail(error, reader, "a block is not closed");
        if (kind == TOKEN_CLOSE) return top ? Fail(error, reader, "a closing brace with no block") : true;
        if (kind != TOKEN_TEXT) return Fail(error, reader, kind == TOKEN_OPEN ? "a block with no key" : "an unclosed quote or bracket");

        VdfNode child;
        child.key = token;
        do {
            kind = reader.Next(&token);
        } while (kind == TOKEN_CONDITION);
        if (kind == TOKEN_TEXT) {
            child.value = token;
        } else if (kind == TOKEN_OPEN) {
            // Real files nest a few levels; a deeper one is not a file Steam wrote.
            if (depth >= 64) return Fail(error, reader, "blocks nested too deeply");
            child.block = true;
            if (!ReadBlock(reader, &child, false, depth + 1, error)) return false;
        } else {
            return Fail(error, reader, kind == TOKEN_BAD ? "an unclosed quote or bracket" : "a key with no value");
        }
        node->children.push_back(child);
    }
}

}  // namespace

const VdfNode* VdfNode::Child(const char* wanted) const {
    for (const VdfNode& child : children) {
        if (SameButForCase(child.key, wanted)) return &child;
    }
    return nullptr;
}

bool ParseVdf(const std::string& text, VdfNode* root, std::string* error) {
    *root = VdfNode();
    root->block = true;
    Reader reader(text);
    return ReadBlock(reader, root, true, 0, error);
}
