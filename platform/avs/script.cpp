#include "platform/avs/script.h"

#include <cctype>
#include <charconv>
#include <limits>

namespace avs::script {

namespace {

bool isNameStart(char c)
{
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}

bool isNameChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string lower(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string quoted(const std::string &s)
{
    return "\"" + s + "\"";
}

class Tokenizer
{
public:
    Tokenizer(const std::string &text, const std::string &fileName)
        : text_(text)
        , file_(std::make_shared<const std::string>(fileName))
    {
        // A byte-order mark from an editor is not part of the script.
        if (text_.compare(0, 3, "\xEF\xBB\xBF") == 0)
            i_ = 3;
    }

    std::vector<Token> run()
    {
        while (i_ < text_.size()) {
            const char c = text_[i_];
            if (isBlank(c)) {
                advance();
            } else if (c == '\n') {
                newline();
            } else if (c == '#') {
                while (i_ < text_.size() && text_[i_] != '\n')
                    advance();
            } else if (c == '\\') {
                continueLine();
            } else if (c == '/' && peek(1) == '*') {
                blockComment();
            } else if (c == '[' && peek(1) == '*') {
                nestedComment();
            } else if (c == '"') {
                string();
            } else if (isDigit(c) || (c == '.' && isDigit(peek(1)))) {
                number();
            } else if (c == '$') {
                hexNumber();
            } else if (isNameStart(c)) {
                if (!name())
                    break; // __END__
            } else {
                punctuation(c);
            }
        }
        emit(TokenKind::EndOfLine, line_, column_);
        emit(TokenKind::EndOfScript, line_, column_);
        return std::move(tokens_);
    }

private:
    [[noreturn]] void fail(const std::string &message, int line, int column) const
    {
        throw Error(Located("Script error: " + message, Location{file_, line, column}, true));
    }

    char peek(std::size_t ahead) const
    {
        return i_ + ahead < text_.size() ? text_[i_ + ahead] : '\0';
    }

    void advance()
    {
        if (text_[i_] == '\n') {
            ++line_;
            column_ = 1;
        } else {
            ++column_;
        }
        ++i_;
    }

    Token &emit(TokenKind kind, int line, int column)
    {
        Token t;
        t.kind = kind;
        t.line = line;
        t.column = column;
        tokens_.push_back(std::move(t));
        return tokens_.back();
    }

    void newline()
    {
        const int line = line_, column = column_;
        advance();
        // A line that starts with a backslash continues the one before.
        std::size_t j = i_;
        while (j < text_.size() && isBlank(text_[j]))
            ++j;
        if (j < text_.size() && text_[j] == '\\') {
            while (i_ <= j)
                advance();
            return;
        }
        emit(TokenKind::EndOfLine, line, column);
    }

    // A backslash at the end of a line joins the next line to it.
    void continueLine()
    {
        const int line = line_, column = column_;
        std::size_t j = i_ + 1;
        while (j < text_.size() && isBlank(text_[j]))
            ++j;
        if (j < text_.size() && text_[j] != '\n')
            fail("a \"\\\" may only end a line or begin the next one", line, column);
        while (i_ < j)
            advance();
        if (i_ < text_.size())
            advance(); // the line feed
    }

    void blockComment()
    {
        const int line = line_, column = column_;
        advance();
        advance();
        while (i_ < text_.size() && !(text_[i_] == '*' && peek(1) == '/'))
            advance();
        if (i_ >= text_.size())
            fail("the comment is not closed with \"*/\"", line, column);
        advance();
        advance();
    }

    void nestedComment()
    {
        const int line = line_, column = column_;
        int depth = 0;
        do {
            if (i_ >= text_.size())
                fail("the comment is not closed with \"*]\"", line, column);
            if (text_[i_] == '[' && peek(1) == '*') {
                ++depth;
                advance();
            } else if (text_[i_] == '*' && peek(1) == ']') {
                --depth;
                advance();
            }
            advance();
        } while (depth > 0);
    }

    void string()
    {
        const int line = line_, column = column_;
        const bool triple = peek(1) == '"' && peek(2) == '"';
        const std::string close = triple ? "\"\"\"" : "\"";
        for (std::size_t k = 0; k < close.size(); ++k)
            advance();
        const std::size_t start = i_;
        const std::size_t end = text_.find(close, i_);
        if (end == std::string::npos)
            fail("the string is not closed", line, column);
        while (i_ < end)
            advance();
        Token &t = emit(TokenKind::String, line, column);
        t.text = text_.substr(start, end - start);
        for (std::size_t k = 0; k < close.size(); ++k)
            advance();
    }

    void number()
    {
        const int line = line_, column = column_;
        const std::size_t start = i_;
        while (isDigit(peek(0)))
            advance();
        bool real = false;
        if (peek(0) == '.' && isDigit(peek(1))) {
            real = true;
            advance();
            while (isDigit(peek(0)))
                advance();
        }
        const char *first = text_.data() + start;
        const char *last = text_.data() + i_;
        if (real) {
            Token &t = emit(TokenKind::Float, line, column);
            std::from_chars(first, last, t.real);
            return;
        }
        std::int64_t value = 0;
        if (std::from_chars(first, last, value).ec != std::errc())
            fail("the number " + std::string(first, last) + " is too big", line, column);
        emit(TokenKind::Integer, line, column).integer = value;
    }

    void hexNumber()
    {
        const int line = line_, column = column_;
        advance();
        const std::size_t start = i_;
        while (std::isxdigit(static_cast<unsigned char>(peek(0))))
            advance();
        if (i_ == start)
            fail("\"$\" must be followed by hexadecimal digits", line, column);
        std::uint64_t value = 0;
        auto [end, ec] = std::from_chars(text_.data() + start, text_.data() + i_, value, 16);
        (void)end;
        if (ec != std::errc()
            || value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            fail("the number $" + text_.substr(start, i_ - start) + " is too big", line, column);
        emit(TokenKind::Integer, line, column).integer = static_cast<std::int64_t>(value);
    }

    // False at __END__, after which nothing is read.
    bool name()
    {
        const int line = line_, column = column_;
        const std::size_t start = i_;
        while (isNameChar(peek(0)))
            advance();
        std::string word = text_.substr(start, i_ - start);
        if (lower(word) == "__end__")
            return false;
        emit(TokenKind::Name, line, column).text = std::move(word);
        return true;
    }

    void punctuation(char c)
    {
        const int line = line_, column = column_;
        TokenKind kind;
        switch (c) {
        case '=':
            kind = TokenKind::Assign;
            break;
        case ',':
            kind = TokenKind::Comma;
            break;
        case '(':
            kind = TokenKind::LeftParen;
            break;
        case ')':
            kind = TokenKind::RightParen;
            break;
        case '+':
            if (peek(1) == '+') {
                advance();
                kind = TokenKind::PlusPlus;
            } else {
                kind = TokenKind::Plus;
            }
            break;
        case '-':
            kind = TokenKind::Minus;
            break;
        case '*':
            kind = TokenKind::Star;
            break;
        case '/':
            kind = TokenKind::Slash;
            break;
        case '%':
            kind = TokenKind::Percent;
            break;
        case '.':
            kind = TokenKind::Dot;
            break;
        default: {
            const unsigned char u = static_cast<unsigned char>(c);
            if (u < 0x20 || u >= 0x7F) {
                static const char digits[] = "0123456789ABCDEF";
                fail(std::string("unexpected character 0x") + digits[u >> 4] + digits[u & 15], line,
                     column);
            }
            fail("unexpected character " + quoted(std::string(1, c)), line, column);
        }
        }
        advance();
        emit(kind, line, column);
    }

    const std::string &text_;
    std::shared_ptr<const std::string> file_;
    std::size_t i_ = 0;
    int line_ = 1;
    int column_ = 1;
    std::vector<Token> tokens_;
};

std::string describe(const Token &t)
{
    switch (t.kind) {
    case TokenKind::Name:
        return quoted(t.text);
    case TokenKind::Integer:
        return std::to_string(t.integer);
    case TokenKind::Float:
        return "a number";
    case TokenKind::String:
        return "a string";
    case TokenKind::Assign:
        return "\"=\"";
    case TokenKind::Comma:
        return "\",\"";
    case TokenKind::LeftParen:
        return "\"(\"";
    case TokenKind::RightParen:
        return "\")\"";
    case TokenKind::Plus:
        return "\"+\"";
    case TokenKind::PlusPlus:
        return "\"++\"";
    case TokenKind::Minus:
        return "\"-\"";
    case TokenKind::Star:
        return "\"*\"";
    case TokenKind::Slash:
        return "\"/\"";
    case TokenKind::Percent:
        return "\"%\"";
    case TokenKind::Dot:
        return "\".\"";
    case TokenKind::EndOfLine:
        return "the end of the line";
    case TokenKind::EndOfScript:
        return "the end of the script";
    }
    return "?";
}

class Parser
{
public:
    Parser(std::vector<Token> tokens, const std::string &fileName)
        : tokens_(std::move(tokens))
        , file_(std::make_shared<const std::string>(fileName))
    {}

    Script run()
    {
        Script script;
        script.fileName = file_;
        while (peek().kind != TokenKind::EndOfScript) {
            if (peek().kind == TokenKind::EndOfLine) {
                ++pos_;
                continue;
            }
            script.statements.push_back(statement());
            if (peek().kind != TokenKind::EndOfLine)
                fail("expected the end of the line, not " + describe(peek()), peek());
        }
        return script;
    }

private:
    [[noreturn]] void fail(const std::string &message, const Token &at) const
    {
        throw Error(Located("Script error: " + message, where(at), true));
    }

    Location where(const Token &t) const { return Location{file_, t.line, t.column}; }

    const Token &peek(std::size_t ahead = 0) const
    {
        const std::size_t k = pos_ + ahead;
        return k < tokens_.size() ? tokens_[k] : tokens_.back();
    }

    const Token &take() { return tokens_[pos_ < tokens_.size() - 1 ? pos_++ : pos_]; }

    bool isWord(const Token &t, const char *word) const
    {
        return t.kind == TokenKind::Name && lower(t.text) == word;
    }

    Statement statement()
    {
        Statement s;
        s.where = where(peek());
        if (isWord(peek(), "return") && peek(1).kind != TokenKind::Assign) {
            take();
            s.kind = Statement::Kind::Return;
            s.value = expression();
            return s;
        }
        if (isWord(peek(), "global") && peek(1).kind == TokenKind::Name
            && peek(2).kind == TokenKind::Assign)
            take();
        if (peek().kind == TokenKind::Name && peek(1).kind == TokenKind::Assign) {
            s.kind = Statement::Kind::Assign;
            s.name = take().text;
            take();
            s.value = expression();
            return s;
        }
        s.kind = Statement::Kind::Expression;
        s.value = expression();
        return s;
    }

    // Guards every way the grammar can recurse.
    class Nest
    {
    public:
        Nest(Parser &p, const Token &at)
            : p_(p)
        {
            if (++p_.depth_ > kMaxNesting)
                p_.fail("the expression is nested too deeply", at);
        }
        ~Nest() { --p_.depth_; }

    private:
        Parser &p_;
    };

    NodePtr expression()
    {
        Nest nest(*this, peek());
        return additive();
    }

    NodePtr chain(NodePtr first, std::vector<std::pair<Operator, NodePtr>> rest, const Location &at)
    {
        if (rest.empty())
            return first;
        auto node = std::make_unique<Node>();
        node->kind = Node::Kind::Chain;
        node->where = at;
        node->first = std::move(first);
        node->rest = std::move(rest);
        return node;
    }

    NodePtr additive()
    {
        const Location at = where(peek());
        NodePtr first = multiplicative();
        std::vector<std::pair<Operator, NodePtr>> rest;
        for (;;) {
            Operator op;
            switch (peek().kind) {
            case TokenKind::Plus:
                op = Operator::Add;
                break;
            case TokenKind::PlusPlus:
                op = Operator::AlignedAdd;
                break;
            case TokenKind::Minus:
                op = Operator::Subtract;
                break;
            default:
                return chain(std::move(first), std::move(rest), at);
            }
            take();
            rest.emplace_back(op, multiplicative());
        }
    }

    NodePtr multiplicative()
    {
        const Location at = where(peek());
        NodePtr first = unary();
        std::vector<std::pair<Operator, NodePtr>> rest;
        for (;;) {
            Operator op;
            switch (peek().kind) {
            case TokenKind::Star:
                op = Operator::Multiply;
                break;
            case TokenKind::Slash:
                op = Operator::Divide;
                break;
            case TokenKind::Percent:
                op = Operator::Modulo;
                break;
            default:
                return chain(std::move(first), std::move(rest), at);
            }
            take();
            rest.emplace_back(op, unary());
        }
    }

    NodePtr unary()
    {
        if (peek().kind == TokenKind::Minus || peek().kind == TokenKind::Plus) {
            Nest nest(*this, peek());
            const Token &sign = take();
            NodePtr operand = unary();
            if (sign.kind == TokenKind::Plus)
                return operand;
            auto node = std::make_unique<Node>();
            node->kind = Node::Kind::Negate;
            node->where = where(sign);
            node->first = std::move(operand);
            return node;
        }
        return postfix();
    }

    // clip.Function(arguments) is Function(clip, arguments).
    NodePtr postfix()
    {
        NodePtr node = primary();
        while (peek().kind == TokenKind::Dot) {
            Nest nest(*this, peek());
            take();
            if (peek().kind != TokenKind::Name)
                fail("expected a function name after \".\", not " + describe(peek()), peek());
            const Token &name = take();
            auto call = std::make_unique<Node>();
            call->kind = Node::Kind::Call;
            call->where = where(name);
            call->text = name.text;
            call->arguments.push_back(Argument{"", std::move(node)});
            if (peek().kind == TokenKind::LeftParen)
                arguments(*call);
            node = std::move(call);
        }
        return node;
    }

    NodePtr primary()
    {
        const Token &t = peek();
        auto node = std::make_unique<Node>();
        node->where = where(t);
        switch (t.kind) {
        case TokenKind::Integer:
            node->kind = Node::Kind::Integer;
            node->integer = take().integer;
            return node;
        case TokenKind::Float:
            node->kind = Node::Kind::Float;
            node->real = take().real;
            return node;
        case TokenKind::String:
            node->kind = Node::Kind::String;
            node->text = take().text;
            return node;
        case TokenKind::LeftParen: {
            take();
            NodePtr inner = expression();
            if (peek().kind != TokenKind::RightParen)
                fail("expected \")\", not " + describe(peek()), peek());
            take();
            return inner;
        }
        case TokenKind::Name: {
            const std::string word = lower(t.text);
            if (word == "true" || word == "yes" || word == "false" || word == "no") {
                node->kind = Node::Kind::Bool;
                node->boolean = word == "true" || word == "yes";
                take();
                return node;
            }
            node->text = take().text;
            if (peek().kind == TokenKind::LeftParen) {
                node->kind = Node::Kind::Call;
                arguments(*node);
            } else {
                node->kind = Node::Kind::Name;
            }
            return node;
        }
        default:
            fail("expected a value, not " + describe(t), t);
        }
    }

    void arguments(Node &call)
    {
        Nest nest(*this, peek());
        take(); // (
        if (peek().kind == TokenKind::RightParen) {
            take();
            return;
        }
        for (;;) {
            Argument arg;
            if (peek().kind == TokenKind::Name && peek(1).kind == TokenKind::Assign) {
                arg.name = take().text;
                take();
            }
            arg.value = expression();
            call.arguments.push_back(std::move(arg));
            if (peek().kind == TokenKind::Comma) {
                take();
                continue;
            }
            if (peek().kind == TokenKind::RightParen) {
                take();
                return;
            }
            fail("expected \",\" or \")\", not " + describe(peek()), peek());
        }
    }

    std::vector<Token> tokens_;
    std::shared_ptr<const std::string> file_;
    std::size_t pos_ = 0;
    int depth_ = 0;
};

} // namespace

std::string Located(const std::string &message, const Location &where, bool withColumn)
{
    std::string text = message + "\n(" + (where.file ? *where.file : std::string()) + ", line "
                       + std::to_string(where.line);
    if (withColumn)
        text += ", column " + std::to_string(where.column);
    return text + ")";
}

std::vector<Token> Tokenize(const std::string &text, const std::string &fileName)
{
    return Tokenizer(text, fileName).run();
}

Script Parse(const std::string &text, const std::string &fileName)
{
    return Parser(Tokenize(text, fileName), fileName).run();
}

} // namespace avs::script
