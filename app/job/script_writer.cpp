#include "app/job/script_writer.h"

#include "app/job/app_define.h"
#include "app/job/text_file.h"
#include "platform/forms/sysutils.h"
#include "platform/win32/files.h"

namespace quillon {

namespace {

void appendLine(std::string &script, const std::string &line)
{
    script += line;
    script += "\r\n";
}

std::string p(std::size_t i)
{
    return "p" + std::to_string(i);
}

} // namespace

bool PathFitsScript(const std::string &path)
{
    return path.find_first_of("\"\r\n") == std::string::npos;
}

std::string UnusablePhotoMessage(const std::string &path)
{
    return "The photo \"" + path
           + "\" cannot be used: its name contains a double quote or a line break.";
}

std::string BuildScript(const std::vector<std::string> &photos, int standard, int resolution,
                        const std::string &intervalText)
{
    const OutputSize size = OutputSizeFor(standard, resolution);
    const std::string wh = std::to_string(size.width) + "," + std::to_string(size.height);
    const std::size_t n = photos.size();

    std::string script;
    for (std::size_t i = 0; i < n; ++i) {
        if (!PathFitsScript(photos[i]))
            throw forms::Exception(UnusablePhotoMessage(photos[i]));
        // The slide length is worked out in 32 bits, as the interval box holds it.
        const int frames
            = static_cast<int>(static_cast<unsigned>(forms::StrToInt(intervalText)) * 25u);
        appendLine(script, p(i) + "=ImageSource(\"" + photos[i] + "\", 1,1,25)");
        appendLine(script, p(i) + "=BicubicResize(" + p(i) + "," + wh + ")");
        appendLine(script, p(i) + "_t=Loop(" + p(i) + ",25)");
        appendLine(script, p(i) + "=Loop(" + p(i) + "," + std::to_string(frames) + ")");
    }
    for (std::size_t i = 0; i + 1 < n; ++i)
        appendLine(script,
                   "t" + std::to_string(i) + "=Dissolve(" + p(i) + "_t," + p(i + 1) + "_t,25)");
    std::string all = "all=";
    for (std::size_t i = 0; i < n; ++i) {
        all += p(i);
        if (i + 1 < n)
            all += "+t" + std::to_string(i) + "+";
    }
    appendLine(script, all);
    appendLine(script, "all=BicubicResize(all," + wh + ")");
    appendLine(script, "return all");
    return script;
}

void WriteScript(const std::vector<std::string> &photos, int standard, int resolution,
                 const std::string &intervalText)
{
    const std::string script = BuildScript(photos, standard, resolution, intervalText);
    const std::string path = win32::FixedScriptPath();
    if (path.empty())
        throw forms::Exception(win32::TempFolderProblem());
    SaveTextFile(path, script);
}

} // namespace quillon
