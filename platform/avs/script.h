// The script language's front end: tokens, the expression tree and the parser.
// Every node knows the file and line it came from, so that an error found while
// the script runs can say where it happened.
#pragma once

#include "platform/avs/avs.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace avs::script {

enum class TokenKind {
    Name,
    Integer,
    Float,
    String,
    Assign,     // =
    Comma,      // ,
    LeftParen,  // (
    RightParen, // )
    Plus,       // +
    PlusPlus,   // ++
    Minus,      // -
    Star,       // *
    Slash,      // /
    Percent,    // %
    Dot,        // .
    EndOfLine,
    EndOfScript,
};

struct Location
{
    std::shared_ptr<const std::string> file;
    int line = 0;
    int column = 0;
};

struct Token
{
    TokenKind kind = TokenKind::EndOfScript;
    std::string text; // a name as written, or a string's contents
    std::int64_t integer = 0;
    double real = 0;
    int line = 0;
    int column = 0;
};

// Raises a script error naming the file, line and column of a character or
// literal that does not belong to the language.
std::vector<Token> Tokenize(const std::string &text, const std::string &fileName);

struct Node;
using NodePtr = std::unique_ptr<Node>;

struct Argument
{
    std::string name; // empty for a positional argument
    NodePtr value;
};

enum class Operator { Add, AlignedAdd, Subtract, Multiply, Divide, Modulo };

struct Node
{
    enum class Kind {
        Integer,
        Float,
        String,
        Bool,
        Name,   // a variable, or a function called without parentheses
        Call,   // name(arguments); clip.name(arguments) puts the clip first
        Chain,  // first op rest[0].second op rest[1].second ..., left to right
        Negate, // -first
    };

    Kind kind = Kind::Integer;
    Location where;
    std::int64_t integer = 0;
    double real = 0;
    bool boolean = false;
    std::string text; // string value, or the name as written
    std::vector<Argument> arguments;
    NodePtr first;
    std::vector<std::pair<Operator, NodePtr>> rest;
};

struct Statement
{
    enum class Kind { Assign, Return, Expression };
    Kind kind = Kind::Expression;
    std::string name; // the variable of an assignment
    NodePtr value;
    Location where;
};

struct Script
{
    std::shared_ptr<const std::string> fileName;
    std::vector<Statement> statements;
};

// Deeper nesting of parentheses, calls and signs than this is refused, so that
// neither the parser nor the evaluator can run out of stack.
constexpr int kMaxNesting = 256;

// Parses a whole script. Raises Error "Script error: ..." with the file, line
// and column of the first syntax error.
Script Parse(const std::string &text, const std::string &fileName);

// `message` followed by where it happened: "(file, line N)", with the column
// when asked.
std::string Located(const std::string &message, const Location &where, bool withColumn = false);

} // namespace avs::script
