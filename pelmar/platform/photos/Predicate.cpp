#include "pelmar/platform/photos/Predicate.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "pelmar/platform/photos/Asset.h"
#include "pelmar/platform/photos/internal/AssetKeys.h"

namespace pelmar::photos {

struct Predicate::Node {
    enum class Kind { And, Or, Not, Compare, In };
    Kind kind = Kind::Compare;
    std::shared_ptr<const Node> left;
    std::shared_ptr<const Node> right;
    std::string key;
    std::string op;
    double value = 0;
    std::vector<int64_t> list;
};

namespace {

using Node = Predicate::Node;

struct Token {
    enum class Kind { Word, Number, Placeholder, Operator, Open, Close, End };
    Kind kind = Kind::End;
    std::string text;
};

[[noreturn]] void fail(const std::string& format, const std::string& why) {
    throw std::invalid_argument("predicate \"" + format + "\": " + why);
}

std::vector<Token> tokenize(const std::string& format) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (i < format.size()) {
        const char c = format[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '(' || c == ')') {
            tokens.push_back(
                    {c == '(' ? Token::Kind::Open : Token::Kind::Close, std::string(1, c)});
            ++i;
        } else if (c == '%') {
            std::size_t j = i + 1;
            while (j < format.size() && (format[j] == 'l' || format[j] == 'q')) {
                ++j;
            }
            if (j >= format.size()
                || std::string_view("dif@").find(format[j]) == std::string::npos) {
                fail(format, "unknown placeholder at offset " + std::to_string(i));
            }
            tokens.push_back({Token::Kind::Placeholder, std::string(1, format[j])});
            i = j + 1;
        } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '.') {
            std::size_t j = i + 1;
            while (j < format.size()
                   && (std::isdigit(static_cast<unsigned char>(format[j])) || format[j] == '.')) {
                ++j;
            }
            tokens.push_back({Token::Kind::Number, format.substr(i, j - i)});
            i = j;
        } else if (std::isalpha(static_cast<unsigned char>(c))) {
            std::size_t j = i + 1;
            while (j < format.size() && std::isalnum(static_cast<unsigned char>(format[j]))) {
                ++j;
            }
            tokens.push_back({Token::Kind::Word, format.substr(i, j - i)});
            i = j;
        } else {
            static const char* const kOperators[] = {"==", "!=", "<=", ">=", "&&",
                                                     "||", "=",  "<",  ">",  "!"};
            bool matched = false;
            for (const char* op : kOperators) {
                const std::string_view o(op);
                if (format.compare(i, o.size(), o) == 0) {
                    tokens.push_back({Token::Kind::Operator, std::string(o)});
                    i += o.size();
                    matched = true;
                    break;
                }
            }
            if (!matched) {
                fail(format, std::string("unexpected character '") + c + "'");
            }
        }
    }
    tokens.push_back({Token::Kind::End, ""});
    return tokens;
}

std::string upper(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return s;
}

class Parser {
public:
    Parser(const std::string& format, const std::vector<Predicate::Argument>& arguments)
        : format_(format), arguments_(arguments), tokens_(tokenize(format)) {}

    std::shared_ptr<const Node> parse() {
        auto root = parseOr();
        if (peek().kind != Token::Kind::End) {
            fail(format_, "unexpected \"" + peek().text + "\"");
        }
        if (nextArgument_ != arguments_.size()) {
            fail(format_, "more arguments than placeholders");
        }
        return root;
    }

private:
    const Token& peek() const { return tokens_[pos_]; }

    Token take() { return tokens_[pos_++]; }

    bool isWord(const char* word) const {
        return peek().kind == Token::Kind::Word && upper(peek().text) == word;
    }

    bool isOperator(const char* op) const {
        return peek().kind == Token::Kind::Operator && peek().text == op;
    }

    std::shared_ptr<const Node> parseOr() {
        auto left = parseAnd();
        while (isWord("OR") || isOperator("||")) {
            take();
            auto node = std::make_shared<Node>();
            node->kind = Node::Kind::Or;
            node->left = left;
            node->right = parseAnd();
            left = node;
        }
        return left;
    }

    std::shared_ptr<const Node> parseAnd() {
        auto left = parseUnary();
        while (isWord("AND") || isOperator("&&")) {
            take();
            auto node = std::make_shared<Node>();
            node->kind = Node::Kind::And;
            node->left = left;
            node->right = parseUnary();
            left = node;
        }
        return left;
    }

    std::shared_ptr<const Node> parseUnary() {
        if (isWord("NOT") || isOperator("!")) {
            take();
            auto node = std::make_shared<Node>();
            node->kind = Node::Kind::Not;
            node->left = parseUnary();
            return node;
        }
        if (peek().kind == Token::Kind::Open) {
            take();
            auto inner = parseOr();
            if (peek().kind != Token::Kind::Close) {
                fail(format_, "missing ')'");
            }
            take();
            return inner;
        }
        return parseComparison();
    }

    std::shared_ptr<const Node> parseComparison() {
        const Token key = take();
        if (key.kind != Token::Kind::Word || !internal::isAssetKey(key.text)) {
            fail(format_, "unknown key \"" + key.text + "\"");
        }
        auto node = std::make_shared<Node>();
        node->key = key.text;
        if (isWord("IN")) {
            take();
            node->kind = Node::Kind::In;
            const Token value = take();
            if (value.kind != Token::Kind::Placeholder || value.text != "@") {
                fail(format_, "IN needs a %@ list");
            }
            const auto* list = std::get_if<std::vector<int64_t>>(&argument());
            if (!list) {
                fail(format_, "the argument of IN is not a list");
            }
            node->list = *list;
            return node;
        }
        if (peek().kind != Token::Kind::Operator || isOperator("&&") || isOperator("||")
            || isOperator("!")) {
            fail(format_, "missing comparison after \"" + key.text + "\"");
        }
        node->kind = Node::Kind::Compare;
        node->op = take().text;
        if (node->op == "==") {
            node->op = "=";
        }
        const Token value = take();
        if (value.kind == Token::Kind::Number) {
            const char* begin = value.text.data();
            double number = 0;
            auto [end, ec] = std::from_chars(begin, begin + value.text.size(), number);
            if (ec != std::errc() || end != begin + value.text.size()) {
                fail(format_, "bad number \"" + value.text + "\"");
            }
            node->value = number;
        } else if (value.kind == Token::Kind::Placeholder) {
            const Predicate::Argument& arg = argument();
            if (const auto* i = std::get_if<int64_t>(&arg)) {
                node->value = static_cast<double>(*i);
            } else if (const auto* d = std::get_if<double>(&arg)) {
                node->value = *d;
            } else {
                fail(format_, "a list where a number belongs");
            }
        } else {
            fail(format_, "missing value after \"" + node->op + "\"");
        }
        return node;
    }

    const Predicate::Argument& argument() {
        if (nextArgument_ >= arguments_.size()) {
            fail(format_, "more placeholders than arguments");
        }
        return arguments_[nextArgument_++];
    }

    const std::string& format_;
    const std::vector<Predicate::Argument>& arguments_;
    std::vector<Token> tokens_;
    std::size_t pos_ = 0;
    std::size_t nextArgument_ = 0;
};

bool evaluateNode(const Node& node, const Asset& asset) {
    switch (node.kind) {
        case Node::Kind::And:
            return evaluateNode(*node.left, asset) && evaluateNode(*node.right, asset);
        case Node::Kind::Or:
            return evaluateNode(*node.left, asset) || evaluateNode(*node.right, asset);
        case Node::Kind::Not:
            return !evaluateNode(*node.left, asset);
        case Node::Kind::In: {
            const auto value = internal::assetKeyValue(asset, node.key);
            if (!value) {
                return false;
            }
            for (int64_t member : node.list) {
                if (static_cast<double>(member) == *value) {
                    return true;
                }
            }
            return false;
        }
        case Node::Kind::Compare: {
            const auto value = internal::assetKeyValue(asset, node.key);
            if (!value) {
                return false;
            }
            const double v = *value;
            if (node.op == "=") {
                return v == node.value;
            }
            if (node.op == "!=") {
                return v != node.value;
            }
            if (node.op == "<") {
                return v < node.value;
            }
            if (node.op == "<=") {
                return v <= node.value;
            }
            if (node.op == ">") {
                return v > node.value;
            }
            return v >= node.value;
        }
    }
    return false;
}

std::string formatArgument(const Predicate::Argument& argument) {
    if (const auto* i = std::get_if<int64_t>(&argument)) {
        return std::to_string(*i);
    }
    if (const auto* d = std::get_if<double>(&argument)) {
        char text[64];
        std::snprintf(text, sizeof text, "%g", *d);
        return text;
    }
    std::string out = "{";
    for (int64_t member : std::get<std::vector<int64_t>>(argument)) {
        out += (out.size() > 1 ? ", " : "") + std::to_string(member);
    }
    return out + "}";
}

}  // namespace

Predicate::Predicate(std::string format, std::vector<Argument> arguments)
    : format_(std::move(format)), arguments_(std::move(arguments)) {
    root_ = Parser(format_, arguments_).parse();
}

bool Predicate::evaluate(const Asset& asset) const {
    return evaluateNode(*root_, asset);
}

std::string Predicate::description() const {
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format_.size(); ++i) {
        if (format_[i] != '%') {
            out += format_[i];
            continue;
        }
        std::size_t j = i + 1;
        while (j < format_.size() && (format_[j] == 'l' || format_[j] == 'q')) {
            ++j;
        }
        out += next < arguments_.size() ? formatArgument(arguments_[next++]) : "?";
        i = j;
    }
    return out;
}

}  // namespace pelmar::photos
