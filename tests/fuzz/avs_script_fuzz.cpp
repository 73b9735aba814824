// Feeds arbitrary text to the script engine as a script: the tokenizer and the
// parser always, and the evaluator whenever the script names no picture, so
// that the fuzzer never reads files of the machine it runs on.
#include "platform/avs/avs.h"
#include "platform/avs/script.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

bool namesPictures(const avs::script::Node &node)
{
    if (node.kind == avs::script::Node::Kind::Call || node.kind == avs::script::Node::Kind::Name) {
        std::string name = node.text;
        for (char &c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (name == "imagesource" || name == "imagereader")
            return true;
    }
    for (const auto &arg : node.arguments)
        if (namesPictures(*arg.value))
            return true;
    if (node.first && namesPictures(*node.first))
        return true;
    for (const auto &part : node.rest)
        if (namesPictures(*part.second))
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    const std::string name = "/nonexistent/fuzz.avs";
    try {
        const avs::script::Script script = avs::script::Parse(text, name);
        for (const auto &statement : script.statements)
            if (namesPictures(*statement.value))
                return 0;
        avs::OpenScriptText(text, name);
    } catch (const avs::Error &) {
        // Refusing a script is the expected outcome for most inputs.
    }
    return 0;
}
