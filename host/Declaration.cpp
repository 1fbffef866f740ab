// A small reader of method declarations:
//   declaration := name [ "(" [ parameter { "," parameter } ] ")" ] [ "as" type ]
//   parameter   := [ "extends" | "assigns" | "byref" | "byval" ] name "as" type [ "=" literal ]
#include "host/Declaration.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <stdexcept>

#include "host/HostState.h"

namespace zpxhost {

namespace {

struct Token {
    enum Kind { Word, Number, Symbol, End } kind;
    std::string text;
};

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }
bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

// A number starts with a digit, or with a sign or point before one: "-10000", "1.0", ".5".
bool StartsNumber(const std::string& text, size_t i) {
    char next = i + 1 < text.size() ? text[i + 1] : '\0';
    return IsDigit(text[i]) || ((text[i] == '-' || text[i] == '+' || text[i] == '.') && (IsDigit(next) || next == '.'));
}

// Inside a number: digits, letters (checked when the number is read), points and an exponent's sign.
bool ContinuesNumber(const std::string& text, size_t i) {
    char c = text[i];
    return IsWordChar(c) || c == '.' || ((c == '-' || c == '+') && (text[i - 1] == 'e' || text[i - 1] == 'E'));
}

std::vector<Token> Tokenize(const std::string& text) {
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < text.size()) {
        size_t start = i;
        if (std::isspace(static_cast<unsigned char>(text[i]))) {
            ++i;
        } else if (IsWordChar(text[i]) && !IsDigit(text[i])) {
            while (i < text.size() && IsWordChar(text[i])) ++i;
            tokens.push_back({Token::Word, text.substr(start, i - start)});
        } else if (StartsNumber(text, i)) {
            for (++i; i < text.size() && ContinuesNumber(text, i);) ++i;
            tokens.push_back({Token::Number, text.substr(start, i - start)});
        } else {
            tokens.push_back({Token::Symbol, std::string(1, text[i++])});
        }
    }
    tokens.push_back({Token::End, ""});
    return tokens;
}

class Reader {
public:
    explicit Reader(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

    ParsedDeclaration Read() {
        ParsedDeclaration parsed;
        parsed.name = ExpectWord("a method name");
        if (Accept("(")) ReadParameters(parsed.parameters);
        if (AcceptWord("as")) parsed.result = ReadType();
        if (Peek().kind != Token::End) Fail("unexpected \"" + Peek().text + "\" after the declaration");
        parsed.valid = true;
        return parsed;
    }

private:
    void ReadParameters(std::vector<Parameter>& parameters) {
        if (Accept(")")) return;
        do {
            parameters.push_back(ReadParameter());
        } while (Accept(","));
        if (!Accept(")")) Fail("expected \",\" or \")\" in the parameter list");
        for (size_t i = 1; i < parameters.size(); ++i) {
            if (parameters[i].extends) Fail("only the first parameter can be \"extends\"");
        }
    }

    Parameter ReadParameter() {
        Parameter parameter;
        // A modifier is a word followed by the parameter's name rather than by "as".
        if (Peek().kind == Token::Word && PeekAt(1).kind == Token::Word && !SameName(PeekAt(1).text, "as")) {
            std::string modifier = Next().text;
            if (SameName(modifier, "extends")) {
                parameter.extends = true;
            } else if (SameName(modifier, "assigns")) {
                parameter.assigns = true;
            } else if (!SameName(modifier, "byref") && !SameName(modifier, "byval")) {
                Fail("unknown parameter modifier \"" + modifier + "\"");
            }
        }
        parameter.name = ExpectWord("a parameter name");
        if (!AcceptWord("as")) Fail("expected \"as\" after parameter \"" + parameter.name + "\"");
        parameter.type = ReadType();
        if (Accept("=")) parameter.defaultValue = ReadLiteral(parameter.type);
        return parameter;
    }

    ValueType ReadType() {
        std::string name = ExpectWord("a type");
        if (SameName(name, "integer") || SameName(name, "int32")) return ValueType::Integer;
        if (SameName(name, "double")) return ValueType::Double;
        if (SameName(name, "boolean")) return ValueType::Boolean;
        if (SameName(name, "picture")) return ValueType::Picture;
        Fail("unsupported type \"" + name + "\"");
    }

    Value ReadLiteral(ValueType type) {
        Token token = Next();
        switch (type) {
            case ValueType::Integer:
                return ReadInteger(token);
            case ValueType::Double:
                return ReadDouble(token);
            case ValueType::Boolean:
                if (token.kind == Token::Word && SameName(token.text, "true")) return true;
                if (token.kind == Token::Word && SameName(token.text, "false")) return false;
                break;
            case ValueType::Picture:
                if (token.kind == Token::Word && SameName(token.text, "nil")) return REALpicture{nullptr};
                break;
            case ValueType::None:
                break;
        }
        Fail("\"" + token.text + "\" is no " + TypeName(type) + " value");
    }

    Value ReadInteger(const Token& token) {
        errno = 0;
        char* end = nullptr;
        long long value = token.kind == Token::Number ? std::strtoll(token.text.c_str(), &end, 10) : 0;
        if (token.kind != Token::Number || *end != '\0' || errno != 0 || value < INT32_MIN || value > INT32_MAX)
            Fail("\"" + token.text + "\" is no integer value");
        return int32_t(value);
    }

    Value ReadDouble(const Token& token) {
        char* end = nullptr;
        double value = token.kind == Token::Number ? std::strtod(token.text.c_str(), &end) : 0.0;
        if (token.kind != Token::Number || *end != '\0') Fail("\"" + token.text + "\" is no double value");
        return value;
    }

    const Token& Peek() const { return PeekAt(0); }
    const Token& PeekAt(size_t ahead) const { return tokens_[std::min(position_ + ahead, tokens_.size() - 1)]; }
    Token Next() {
        Token token = Peek();
        if (token.kind != Token::End) ++position_;
        return token;
    }
    bool Accept(const char* symbol) {
        if (Peek().kind != Token::Symbol || Peek().text != symbol) return false;
        ++position_;
        return true;
    }
    bool AcceptWord(const char* word) {
        if (Peek().kind != Token::Word || !SameName(Peek().text, word)) return false;
        ++position_;
        return true;
    }
    std::string ExpectWord(const char* what) {
        if (Peek().kind != Token::Word) Fail(std::string("expected ") + what);
        return Next().text;
    }
    [[noreturn]] void Fail(const std::string& why) const { throw std::invalid_argument(why); }

    std::vector<Token> tokens_;
    size_t position_ = 0;
};

}  // namespace

const char* TypeName(ValueType type) {
    switch (type) {
        case ValueType::Integer:
            return "integer";
        case ValueType::Double:
            return "double";
        case ValueType::Boolean:
            return "boolean";
        case ValueType::Picture:
            return "picture";
        case ValueType::None:
            break;
    }
    return "nothing";
}

ParsedDeclaration ParseDeclaration(const std::string& declaration) {
    try {
        return Reader(Tokenize(declaration)).Read();
    } catch (const std::invalid_argument& error) {
        ParsedDeclaration failed;
        failed.error = error.what();
        return failed;
    }
}

}  // namespace zpxhost
