// Runs a parsed script: variables, operators and the functions the slide-show
// scripts use, each with the parameters, defaults and frame counts of the
// language's documentation.
#include "platform/avs/avs.h"
#include "platform/avs/filters.h"
#include "platform/avs/script.h"
#include "platform/win32/files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <unordered_map>
#include <variant>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace avs {

namespace {

using script::Location;
using script::Node;
using script::Operator;
using script::Statement;

using Value = std::variant<std::monostate, bool, std::int64_t, double, std::string, PClip>;

// An error that already says where in the script it happened.
class LocatedError : public Error
{
public:
    using Error::Error;
};

std::string lower(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool isClip(const Value &v)
{
    return std::holds_alternative<PClip>(v);
}

bool isNumber(const Value &v)
{
    return std::holds_alternative<std::int64_t>(v) || std::holds_alternative<double>(v);
}

double asReal(const Value &v)
{
    if (const auto *i = std::get_if<std::int64_t>(&v))
        return static_cast<double>(*i);
    return std::get<double>(v);
}

// --- functions ----------------------------------------------------------------

// Number takes an integer or a float and keeps which it is.
enum class Type { Clip, Clips, Int, Float, Number, String, Bool };

struct Param
{
    const char *name;
    Type type;
    bool optional;
};

class Evaluator;

// The arguments of one call, in the order of the function's parameters; an
// optional one that was not given holds no value.
struct Args
{
    std::vector<Value> values;
    std::vector<PClip> clips; // a Clips parameter

    bool has(std::size_t i) const { return !std::holds_alternative<std::monostate>(values[i]); }
    const PClip &clip(std::size_t i) const { return std::get<PClip>(values[i]); }
    std::int64_t integer(std::size_t i, std::int64_t otherwise) const
    {
        return has(i) ? std::get<std::int64_t>(values[i]) : otherwise;
    }
    double real(std::size_t i, double otherwise) const
    {
        return has(i) ? std::get<double>(values[i]) : otherwise;
    }
    bool flag(std::size_t i, bool otherwise) const
    {
        return has(i) ? std::get<bool>(values[i]) : otherwise;
    }
    std::string text(std::size_t i, const std::string &otherwise) const
    {
        return has(i) ? std::get<std::string>(values[i]) : otherwise;
    }
};

struct Function
{
    const char *name;
    std::vector<Param> params;
    std::size_t minClips; // for a Clips parameter
    Value (*call)(Evaluator &, const Args &);
};

const std::vector<Function> &functions();

// The frame cache holds at least this many frames of the script's size: a
// fitted slide is a chain of frames as large (the photo resized, its blurred
// background, the two laid over each other), and during a fade two slides'
// chains are in use at once. Below that, a frame size of which the default
// budget holds one or two (2160p) made every held frame anew.
constexpr int kFramesHeld = 8;

class Evaluator
{
public:
    Evaluator(const std::string &fileName, bool picturesFailWhenShown = false)
        : env_(std::make_shared<Environment>())
        , folder_(folderOf(fileName))
    {
        env_->picturesFailWhenShown = picturesFailWhenShown;
    }

    PClip run(const script::Script &script)
    {
        Value result;
        const Statement *lastStatement = nullptr;
        for (const Statement &s : script.statements) {
            lastStatement = &s;
            Value v = located(s.where, [&] { return eval(*s.value); });
            if (s.kind == Statement::Kind::Return) {
                result = std::move(v);
                break;
            }
            if (s.kind == Statement::Kind::Assign) {
                vars_[lower(s.name)] = v;
            } else if (isClip(v)) {
                vars_["last"] = v;
            }
            result = std::move(v);
        }
        if (!isClip(result)) {
            const std::string message = "The script's return value was not a video clip";
            if (lastStatement)
                throw LocatedError(script::Located(message, lastStatement->where));
            throw LocatedError(message + "\n(" + *script.fileName + ")");
        }
        PClip clip = std::get<PClip>(result);
        const VideoInfo &vi = clip->GetVideoInfo();
        env_->cache().holdFramesOf(vi.width, vi.height, kFramesHeld);
        return clip;
    }

    const PEnvironment &env() const { return env_; }

    std::string resolve(const std::string &path) const
    {
        if (path.empty() || path[0] == '/')
            return path;
        return folder_ + path;
    }

private:
    static std::string folderOf(const std::string &fileName)
    {
        const std::size_t slash = fileName.rfind('/');
        return slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
    }

    // Runs `f`; an error that does not yet say where it happened is told the
    // place of `where`.
    template <typename F>
    Value located(const Location &where, F &&f)
    {
        try {
            return f();
        } catch (const LocatedError &) {
            throw;
        } catch (const Error &e) {
            throw LocatedError(script::Located(e.what(), where));
        } catch (const std::bad_alloc &) {
            throw LocatedError(script::Located("Out of memory", where));
        }
    }

    [[noreturn]] static void fail(const std::string &message) { throw Error(message); }

    Value eval(const Node &node)
    {
        switch (node.kind) {
        case Node::Kind::Integer:
            return node.integer;
        case Node::Kind::Float:
            return node.real;
        case Node::Kind::String:
            return node.text;
        case Node::Kind::Bool:
            return node.boolean;
        case Node::Kind::Name:
            return located(node.where, [&] { return name(node); });
        case Node::Kind::Call:
            return located(node.where, [&] { return call(node); });
        case Node::Kind::Negate:
            return located(node.where, [&] { return negate(eval(*node.first)); });
        case Node::Kind::Chain: {
            Value v = eval(*node.first);
            // A run of clips joined by "+" is spliced once, at its end; each
            // clip is checked where it stands, as pairwise splicing would.
            std::optional<SpliceBuilder> run;
            auto endRun = [&] {
                if (run)
                    v = run->make();
                run.reset();
            };
            for (const auto &part : node.rest) {
                const Operator op = part.first;
                Value rhs = eval(*part.second);
                if (op == Operator::Add && isClip(v) && isClip(rhs)) {
                    if (!run) {
                        run.emplace("Splice");
                        run->add(std::get<PClip>(v));
                    }
                    located(part.second->where, [&] {
                        run->add(std::get<PClip>(rhs));
                        return Value();
                    });
                    continue;
                }
                endRun();
                v = located(part.second->where, [&] { return apply(op, v, rhs); });
            }
            endRun();
            return v;
        }
        }
        fail("Evaluate: unknown expression");
    }

    Value name(const Node &node)
    {
        if (auto it = vars_.find(lower(node.text)); it != vars_.end())
            return it->second;
        if (const Function *f = find(node.text))
            return invoke(*f, {}, {});
        fail("I don't know what \"" + node.text + "\" means");
    }

    Value call(const Node &node)
    {
        const Function *f = find(node.text);
        if (!f)
            fail("Script error: there is no function named \"" + node.text + "\"");
        std::vector<Value> positional;
        std::vector<std::pair<std::string, Value>> named;
        for (const auto &arg : node.arguments) {
            Value v = eval(*arg.value);
            if (arg.name.empty()) {
                if (!named.empty())
                    fail("Script error: a named argument must not come before \""
                         + std::string(f->name) + "\"'s positional ones");
                positional.push_back(std::move(v));
            } else {
                named.emplace_back(arg.name, std::move(v));
            }
        }
        return invoke(*f, std::move(positional), std::move(named));
    }

    static const Function *find(const std::string &name)
    {
        const std::string key = lower(name);
        for (const Function &f : functions())
            if (lower(f.name) == key)
                return &f;
        return nullptr;
    }

    Value invoke(const Function &f, std::vector<Value> positional,
                 std::vector<std::pair<std::string, Value>> named)
    {
        const std::string invalid
            = "Script error: Invalid arguments to function \"" + std::string(f.name) + "\"";
        const auto &params = f.params;
        // A function whose first argument is a clip takes `last` when the call
        // leaves that clip out.
        if (!params.empty() && (params[0].type == Type::Clip || params[0].type == Type::Clips)
            && (positional.empty() || !isClip(positional[0]))
            && std::none_of(named.begin(), named.end(), [&](const auto &n) {
                   return lower(n.first) == lower(params[0].name);
               })) {
            if (auto it = vars_.find("last"); it != vars_.end() && isClip(it->second))
                positional.insert(positional.begin(), it->second);
        }

        Args args;
        args.values.resize(params.size());
        std::size_t p = 0;
        for (std::size_t i = 0; i < params.size(); ++i) {
            if (params[i].type == Type::Clips) {
                while (p < positional.size() && isClip(positional[p]))
                    args.clips.push_back(std::get<PClip>(positional[p++]));
                if (args.clips.size() < f.minClips)
                    fail(invalid);
            } else if (p < positional.size()) {
                args.values[i] = std::move(positional[p++]);
            }
        }
        if (p < positional.size())
            fail(invalid);
        for (auto &[argName, value] : named) {
            const std::string key = lower(argName);
            auto it = std::find_if(params.begin(), params.end(),
                                   [&](const Param &q) { return lower(q.name) == key; });
            if (it == params.end() || it->type == Type::Clips)
                fail("Script error: \"" + std::string(f.name) + "\" has no argument named \""
                     + argName + "\"");
            const std::size_t i = static_cast<std::size_t>(it - params.begin());
            if (args.has(i))
                fail("Script error: the argument \"" + argName + "\" of \"" + f.name
                     + "\" is given twice");
            args.values[i] = std::move(value);
        }
        for (std::size_t i = 0; i < params.size(); ++i) {
            if (params[i].type == Type::Clips)
                continue;
            Value &v = args.values[i];
            if (!args.has(i)) {
                if (!params[i].optional)
                    fail(invalid);
                continue;
            }
            bool ok = false;
            switch (params[i].type) {
            case Type::Clip:
                ok = isClip(v);
                break;
            case Type::Int:
                ok = std::holds_alternative<std::int64_t>(v);
                break;
            case Type::Float:
                ok = isNumber(v);
                if (ok)
                    v = asReal(v);
                break;
            case Type::Number:
                ok = isNumber(v);
                break;
            case Type::String:
                ok = std::holds_alternative<std::string>(v);
                break;
            case Type::Bool:
                ok = std::holds_alternative<bool>(v);
                break;
            case Type::Clips:
                break;
            }
            if (!ok)
                fail(invalid);
        }
        return f.call(*this, args);
    }

    static Value negate(const Value &v)
    {
        if (const auto *i = std::get_if<std::int64_t>(&v)) {
            if (*i == std::numeric_limits<std::int64_t>::min())
                fail("Evaluate: the number is too big");
            return -*i;
        }
        if (const auto *d = std::get_if<double>(&v))
            return -*d;
        fail("Evaluate: \"-\" needs a number");
    }

    static Value apply(Operator op, const Value &a, const Value &b)
    {
        if (op == Operator::Add || op == Operator::AlignedAdd) {
            if (isClip(a) && isClip(b))
                return MakeSplice({std::get<PClip>(a), std::get<PClip>(b)},
                                  op == Operator::Add ? "Splice" : "AlignedSplice");
            if (op == Operator::AlignedAdd)
                fail("Evaluate: operands of \"++\" must be clips");
            if (std::holds_alternative<std::string>(a) && std::holds_alternative<std::string>(b))
                return std::get<std::string>(a) + std::get<std::string>(b);
            if (!isNumber(a) || !isNumber(b))
                fail("Evaluate: operands of \"+\" must both be numbers, strings or clips");
        } else if (!isNumber(a) || !isNumber(b)) {
            static const char *const symbols[] = {"+", "++", "-", "*", "/", "%"};
            fail(std::string("Evaluate: operands of \"") + symbols[static_cast<int>(op)]
                 + "\" must be numbers");
        }
        const auto *ia = std::get_if<std::int64_t>(&a);
        const auto *ib = std::get_if<std::int64_t>(&b);
        if (ia && ib) {
            std::int64_t r = 0;
            bool overflow = false;
            switch (op) {
            case Operator::Add:
                overflow = __builtin_add_overflow(*ia, *ib, &r);
                break;
            case Operator::Subtract:
                overflow = __builtin_sub_overflow(*ia, *ib, &r);
                break;
            case Operator::Multiply:
                overflow = __builtin_mul_overflow(*ia, *ib, &r);
                break;
            case Operator::Divide:
            case Operator::Modulo:
                if (*ib == 0)
                    fail("Evaluate: division by zero");
                if (*ia == std::numeric_limits<std::int64_t>::min() && *ib == -1)
                    overflow = true;
                else
                    r = op == Operator::Divide ? *ia / *ib : *ia % *ib;
                break;
            case Operator::AlignedAdd:
                break;
            }
            if (overflow)
                fail("Evaluate: the result is too big for an integer");
            return r;
        }
        const double x = asReal(a), y = asReal(b);
        switch (op) {
        case Operator::Add:
            return x + y;
        case Operator::Subtract:
            return x - y;
        case Operator::Multiply:
            return x * y;
        case Operator::Divide:
            return x / y;
        case Operator::Modulo:
            return std::fmod(x, y);
        case Operator::AlignedAdd:
            break;
        }
        fail("Evaluate: unknown operator");
    }

    PEnvironment env_;
    std::string folder_;
    std::unordered_map<std::string, Value> vars_;
};

// --- the functions' bodies ------------------------------------------------------

Value imageSource(Evaluator &ev, const Args &a)
{
    const std::string file = a.text(0, "");
    if (file.empty())
        throw Error("ImageSource: the file name is empty");
    if (a.flag(5, false))
        throw Error("ImageSource: info=true is not supported");
    if (lower(a.text(6, "RGB24")) != "rgb24")
        throw Error("ImageSource: pixel_type must be \"RGB24\"");
    const Rational fps = RateFromFps("ImageSource", a.real(3, 24.0));
    return MakeImageSource(ev.env(), ev.resolve(file), a.integer(1, 0), a.integer(2, 1000), fps,
                           a.flag(7, true));
}

Value bicubicResize(Evaluator &ev, const Args &a)
{
    Crop crop;
    crop.left = a.real(5, 0);
    crop.top = a.real(6, 0);
    crop.width = a.real(7, 0);
    crop.height = a.real(8, 0);
    return MakeBicubicResize(ev.env(), a.clip(0), a.integer(1, 0), a.integer(2, 0),
                             a.real(3, 1.0 / 3), a.real(4, 1.0 / 3), crop);
}

Value loop(Evaluator &, const Args &a)
{
    const PClip &clip = a.clip(0);
    return MakeLoop(clip, a.integer(1, -1), a.integer(2, 0),
                    a.integer(3, clip->GetVideoInfo().frameCount - 1));
}

Value dissolve(Evaluator &ev, const Args &a)
{
    // fps only matters for clips without video, which there are none of here.
    return MakeDissolve(ev.env(), a.clips, a.integer(1, 0));
}

Value unalignedSplice(Evaluator &, const Args &a)
{
    return MakeSplice(a.clips, "UnalignedSplice");
}

Value alignedSplice(Evaluator &, const Args &a)
{
    return MakeSplice(a.clips, "AlignedSplice");
}

Value addBorders(Evaluator &ev, const Args &a)
{
    return MakeAddBorders(ev.env(), a.clip(0), a.integer(1, 0), a.integer(2, 0), a.integer(3, 0),
                          a.integer(4, 0), a.integer(5, 0));
}

Value crop(Evaluator &ev, const Args &a)
{
    if (a.flag(5, false))
        throw Error("Crop: align=true is not supported");
    return MakeCrop(ev.env(), a.clip(0), a.integer(1, 0), a.integer(2, 0), a.integer(3, 0),
                    a.integer(4, 0));
}

Value gaussianBlur(Evaluator &ev, const Args &a)
{
    return MakeGaussianBlur(ev.env(), a.clip(0), a.real(1, 0));
}

Value overlay(Evaluator &ev, const Args &a)
{
    return MakeOverlay(ev.env(), a.clip(0), a.clip(1), a.integer(2, 0), a.integer(3, 0));
}

// Min and Max: an integer when both are integers, else a float.
template <bool Larger>
Value extreme(Evaluator &, const Args &a)
{
    const Value &x = a.values[0];
    const Value &y = a.values[1];
    if (std::holds_alternative<std::int64_t>(x) && std::holds_alternative<std::int64_t>(y)) {
        const std::int64_t i = std::get<std::int64_t>(x), j = std::get<std::int64_t>(y);
        return Larger ? std::max(i, j) : std::min(i, j);
    }
    return Larger ? std::max(asReal(x), asReal(y)) : std::min(asReal(x), asReal(y));
}

Value round(Evaluator &, const Args &a)
{
    const double v = std::round(a.real(0, 0));
    if (!(std::fabs(v) < 9.2e18))
        throw Error("Round: the number is too big for an integer");
    return static_cast<std::int64_t>(v);
}

const std::vector<Function> &functions()
{
    static const std::vector<Param> source = {
        {"file", Type::String, false},      {"start", Type::Int, true},
        {"end", Type::Int, true},           {"fps", Type::Float, true},
        {"use_DevIL", Type::Bool, true},    {"info", Type::Bool, true},
        {"pixel_type", Type::String, true}, {"auto_rotate", Type::Bool, true},
    };
    static const std::vector<Param> clipOnly = {{"clip", Type::Clip, false}};
    static const std::vector<Function> table = {
        {"ImageSource", source, 0, imageSource},
        {"ImageReader", source, 0, imageSource},
        {"BicubicResize",
         {{"clip", Type::Clip, false},
          {"target_width", Type::Int, false},
          {"target_height", Type::Int, false},
          {"b", Type::Float, true},
          {"c", Type::Float, true},
          {"src_left", Type::Float, true},
          {"src_top", Type::Float, true},
          {"src_width", Type::Float, true},
          {"src_height", Type::Float, true}},
         0,
         bicubicResize},
        {"Loop",
         {{"clip", Type::Clip, false},
          {"times", Type::Int, true},
          {"start", Type::Int, true},
          {"end", Type::Int, true}},
         0,
         loop},
        {"Dissolve",
         {{"clips", Type::Clips, false}, {"overlap", Type::Int, false}, {"fps", Type::Float, true}},
         2,
         dissolve},
        {"UnalignedSplice", {{"clips", Type::Clips, false}}, 1, unalignedSplice},
        {"AddBorders",
         {{"clip", Type::Clip, false},
          {"left", Type::Int, false},
          {"top", Type::Int, false},
          {"right", Type::Int, false},
          {"bottom", Type::Int, false},
          {"color", Type::Int, true}},
         0,
         addBorders},
        {"Crop",
         {{"clip", Type::Clip, false},
          {"left", Type::Int, false},
          {"top", Type::Int, false},
          {"width", Type::Int, false},
          {"height", Type::Int, false},
          {"align", Type::Bool, true}},
         0,
         crop},
        {"GaussianBlur",
         {{"clip", Type::Clip, false}, {"sigma", Type::Float, false}},
         0,
         gaussianBlur},
        {"Overlay",
         {{"base", Type::Clip, false},
          {"overlay", Type::Clip, false},
          {"x", Type::Int, true},
          {"y", Type::Int, true}},
         0,
         overlay},
        {"Min", {{"a", Type::Number, false}, {"b", Type::Number, false}}, 0, extreme<false>},
        {"Max", {{"a", Type::Number, false}, {"b", Type::Number, false}}, 0, extreme<true>},
        {"Round", {{"value", Type::Float, false}}, 0, round},
        {"AlignedSplice", {{"clips", Type::Clips, false}}, 1, alignedSplice},
        {"Width", clipOnly, 0,
         [](Evaluator &, const Args &a) -> Value {
             return std::int64_t{a.clip(0)->GetVideoInfo().width};
         }},
        {"Height", clipOnly, 0,
         [](Evaluator &, const Args &a) -> Value {
             return std::int64_t{a.clip(0)->GetVideoInfo().height};
         }},
        {"FrameCount", clipOnly, 0,
         [](Evaluator &, const Args &a) -> Value { return a.clip(0)->GetVideoInfo().frameCount; }},
        {"FrameRate", clipOnly, 0,
         [](Evaluator &, const Args &a) -> Value {
             const VideoInfo &vi = a.clip(0)->GetVideoInfo();
             return static_cast<double>(vi.fpsNumerator) / vi.fpsDenominator;
         }},
        {"FrameRateNumerator", clipOnly, 0,
         [](Evaluator &, const Args &a) -> Value {
             return std::int64_t{a.clip(0)->GetVideoInfo().fpsNumerator};
         }},
        {"FrameRateDenominator", clipOnly, 0,
         [](Evaluator &, const Args &a) -> Value {
             return std::int64_t{a.clip(0)->GetVideoInfo().fpsDenominator};
         }},
    };
    return table;
}

std::string readScript(const std::string &path)
{
    std::string reason;
    std::optional<std::string> text = win32::ReadInputFile(path, &reason);
    if (!text)
        throw Error("Cannot open the script \"" + path + "\": " + reason);
    return std::move(*text);
}

} // namespace

PClip OpenScriptText(const std::string &text, const std::string &fileName,
                     bool picturesFailWhenShown)
{
    const script::Script parsed = script::Parse(text, fileName);
    Evaluator evaluator(fileName, picturesFailWhenShown);
    return evaluator.run(parsed);
}

PClip OpenScript(const std::string &path)
{
    return OpenScriptText(readScript(path), path);
}

} // namespace avs
