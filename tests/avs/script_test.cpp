// The language: statements, literals, calls, operators, and the errors that say
// what went wrong and on which line.
#include "platform/avs/avs.h"
#include "platform/avs/script.h"

#include "avs_helpers.h"
#include "pictures.h"
#include "testsupport.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

class ScriptLanguage : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WriteBmp24(dir.file("a.bmp"), 40, 30, Solid({10, 20, 30}));
        WriteBmp24(dir.file("b.bmp"), 40, 30, Solid({200, 100, 50}));
        WriteBmp24(dir.file("small.bmp"), 20, 30, Solid({1, 2, 3}));
    }

    avs::PClip open(const std::string &text)
    {
        WriteFile(dir.file("s.avs"), text);
        return avs::OpenScript(dir.file("s.avs"));
    }

    // The message of the error that opening the script raises.
    std::string errorOf(const std::string &text)
    {
        try {
            open(text);
        } catch (const avs::Error &e) {
            return e.what();
        }
        ADD_FAILURE() << "no error for:\n" << text;
        return {};
    }

    std::string at(int line) const
    {
        return "\n(" + dir.file("s.avs") + ", line " + std::to_string(line) + ")";
    }

    TempDir dir;
};

TEST_F(ScriptLanguage, HandWrittenScriptWithCommentsBlankLinesAndCrlf)
{
    const avs::PClip clip = open("# a slide show written by hand\r\n"
                                 "\r\n"
                                 "Photo = ImageSource(\"a.bmp\", end=9, fps=25)   # from the "
                                 "script's folder\r\n"
                                 "photo = BICUBICRESIZE(PHOTO, 16, 12)\r\n"
                                 "   \r\n"
                                 "both = photo + loop(Photo, times=2)\r\n"
                                 "return both\r\n"
                                 "return NoSuchFunction(both)\r\n");
    const avs::VideoInfo &vi = clip->GetVideoInfo();
    EXPECT_EQ(vi.width, 16);
    EXPECT_EQ(vi.height, 12);
    EXPECT_EQ(vi.frameCount, 10 + 20);
    EXPECT_EQ(vi.fpsNumerator, 25u);
    EXPECT_EQ(vi.fpsDenominator, 1u);
    EXPECT_EQ(avstest::PixelAt(*clip->GetFrame(29), 5, 5).r, 10);
}

TEST_F(ScriptLanguage, TheLastStatementIsTheClipWhenThereIsNoReturn)
{
    // An expression statement sets `last`, which calls that leave out their
    // clip take; the final value is the script's clip.
    EXPECT_EQ(open("ImageSource(\"a.bmp\", 0, 4, 25)\nLoop(3)\n")->GetVideoInfo().frameCount, 15);
    EXPECT_EQ(open("c = ImageSource(\"a.bmp\", 0, 1, 25)\n")->GetVideoInfo().frameCount, 2);
    // Several statements, the last an expression on a clip variable.
    EXPECT_EQ(
        open("a = ImageSource(\"a.bmp\", 1, 1)\nb = Loop(a, 7)\nb\n")->GetVideoInfo().frameCount,
        7);
}

TEST_F(ScriptLanguage, LiteralsArithmeticAndMethodCalls)
{
    const avs::PClip clip = open("name = \"a\" + \".bmp\"\n"
                                 "c = ImageSource(name, start=1, end=2 * 3 - 1, fps=29.97)\n"
                                 "c.BicubicResize(c.Width / 2, $0F, b=0, c=0.5) \\\n"
                                 "  .Loop(-(-2), 0, c.FrameCount - 1)\n"
                                 "\\ + c.BicubicResize(20, 15)\n");
    const avs::VideoInfo &vi = clip->GetVideoInfo();
    EXPECT_EQ(vi.width, 20);
    EXPECT_EQ(vi.height, 15);
    EXPECT_EQ(vi.frameCount, 5 * 2 + 5);
    EXPECT_EQ(vi.fpsNumerator, 2997u);
    EXPECT_EQ(vi.fpsDenominator, 100u);
}

TEST_F(ScriptLanguage, TripleQuotedStringsMayHoldQuotes)
{
    WriteBmp24(dir.file("say \"cheese\".bmp"), 4, 4, Solid({9, 9, 9}));
    const avs::PClip clip = open("ImageSource(\"\"\"say \"cheese\".bmp\"\"\", 1, 1)");
    EXPECT_EQ(clip->GetVideoInfo().width, 4);
}

TEST_F(ScriptLanguage, BlockCommentsAndEnd)
{
    const avs::PClip clip = open("/* a comment\nover lines */ a = ImageSource(\"a.bmp\", 1, 1)\n"
                                 "[* nested [* comment *] still *]\n"
                                 "return a\n"
                                 "__END__\n"
                                 "anything at all ( \"");
    EXPECT_EQ(clip->GetVideoInfo().frameCount, 1);
}

TEST_F(ScriptLanguage, ImageSourceDefaults)
{
    // start 0, end 1000, fps 24: a clip of 1001 frames.
    const avs::VideoInfo vi = open("ImageSource(\"a.bmp\")")->GetVideoInfo();
    EXPECT_EQ(vi.frameCount, 1001);
    EXPECT_EQ(vi.fpsNumerator, 24u);
    EXPECT_EQ(vi.fpsDenominator, 1u);
    EXPECT_EQ(vi.width, 40);
    EXPECT_EQ(vi.height, 30);
}

TEST_F(ScriptLanguage, SyntaxErrorsGiveFileLineAndColumn)
{
    EXPECT_EQ(errorOf("a = ImageSource(\"a.bmp\")\n\np = Loop(a,\n"),
              "Script error: expected a value, not the end of the line\n(" + dir.file("s.avs")
                  + ", line 3, column 12)");
    EXPECT_EQ(errorOf("a = ImageSource(\"a.bmp\"\n"),
              "Script error: expected \",\" or \")\", not the end of the line\n("
                  + dir.file("s.avs") + ", line 1, column 24)");
    EXPECT_NE(errorOf("\n\nx = \"no end\n")
                  .find("the string is not closed\n(" + dir.file("s.avs") + ", line 3, column 5)"),
              std::string::npos);
    EXPECT_NE(errorOf("a = 1 @ 2").find("unexpected character \"@\""), std::string::npos);
    EXPECT_NE(errorOf("a = 1 2").find("expected the end of the line, not 2"), std::string::npos);
    EXPECT_NE(errorOf("x = 99999999999999999999").find("is too big"), std::string::npos);
}

TEST_F(ScriptLanguage, EvaluationErrorsGiveTheLine)
{
    EXPECT_EQ(errorOf("a = ImageSource(\"a.bmp\")\nb = Fade(a, 3)\n"),
              "Script error: there is no function named \"Fade\"" + at(2));
    EXPECT_EQ(errorOf("a = ImageSource(\"a.bmp\")\n\n\nreturn q\n"),
              "I don't know what \"q\" means" + at(4));
    EXPECT_EQ(errorOf("Loop(\"a.bmp\", 2)"),
              "Script error: Invalid arguments to function \"Loop\"" + at(1));
    EXPECT_EQ(errorOf("a = ImageSource(\"a.bmp\")\nLoop(a, count=2)"),
              "Script error: \"Loop\" has no argument named \"count\"" + at(2));
    EXPECT_EQ(errorOf("a = ImageSource(\"a.bmp\")\nb = BicubicResize(a, 10)"),
              "Script error: Invalid arguments to function \"BicubicResize\"" + at(2));
    EXPECT_EQ(errorOf("x = 7 / (2 - 2)"), "Evaluate: division by zero" + at(1));
    EXPECT_EQ(errorOf("x = 9223372036854775807 + 1"),
              "Evaluate: the result is too big for an integer" + at(1));
    EXPECT_EQ(errorOf("x = \"a\" + 1"),
              "Evaluate: operands of \"+\" must both be numbers, strings or clips" + at(1));
}

TEST_F(ScriptLanguage, ClipsThatDoNotMatchAreRefused)
{
    const std::string two = "a = ImageSource(\"a.bmp\", 1, 1, 25)\n"
                            "s = ImageSource(\"small.bmp\", 1, 1, 25)\n";
    EXPECT_EQ(errorOf(two + "return a + s\n"), "Splice: Frame sizes don't match" + at(3));
    // A run of clips joined by "+" is spliced at once, and judged as pairs would be.
    EXPECT_EQ(errorOf(two + "return a + a + s + a\n"), "Splice: Frame sizes don't match" + at(3));
    EXPECT_EQ(errorOf(two + "return a + a + 1\n"),
              "Evaluate: operands of \"+\" must both be numbers, strings or clips" + at(3));
    EXPECT_EQ(errorOf(two + "x = 1\nreturn Dissolve(a, s, 1)\n"),
              "Dissolve: Frame sizes don't match" + at(4));
    EXPECT_EQ(errorOf("a = ImageSource(\"a.bmp\", 1, 1, 25)\n"
                      "b = ImageSource(\"b.bmp\", 1, 1, 24)\n"
                      "a + b"),
              "Splice: Video framerate doesn't match" + at(3));
    EXPECT_EQ(errorOf("a = ImageSource(\"a.bmp\", 1, 1, 25)\n"
                      "b = ImageSource(\"b.bmp\", 1, 1, 24)\n"
                      "Dissolve(a, b, 1)"),
              "Dissolve: Video framerate doesn't match" + at(3));
    EXPECT_EQ(errorOf("a = ImageSource(\"a.bmp\", 1, 5)\nDissolve(a, a, 6)"),
              "Dissolve: the overlap is longer than a clip" + at(2));
}

TEST_F(ScriptLanguage, AScriptWithoutAClipIsAnError)
{
    EXPECT_EQ(errorOf("x = 5\n"), "The script's return value was not a video clip" + at(1));
    EXPECT_EQ(errorOf("a = ImageSource(\"a.bmp\")\nreturn \"a\"\n"),
              "The script's return value was not a video clip" + at(2));
    EXPECT_EQ(errorOf("# nothing but a comment\n"),
              "The script's return value was not a video clip\n(" + dir.file("s.avs") + ")");
}

TEST_F(ScriptLanguage, MissingScriptAndMissingPicture)
{
    try {
        avs::OpenScript(dir.file("none.avs"));
        FAIL();
    } catch (const avs::Error &e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open the script \"" + dir.file("none.avs")
                                             + "\": No such file or directory");
    }
    EXPECT_EQ(errorOf("a = ImageSource(\"a.bmp\")\nb = ImageSource(\"" + dir.file("gone.jpg")
                      + "\", 1, 1, 25)\n"),
              "ImageSource: Cannot read the picture \"" + dir.file("gone.jpg")
                  + "\": No such file or directory" + at(2));
}

TEST_F(ScriptLanguage, DeepNestingIsRefusedNotCrashed)
{
    const std::string deep = "x = " + std::string(5000, '(') + "1" + std::string(5000, ')');
    EXPECT_NE(errorOf(deep).find("nested too deeply"), std::string::npos);
    EXPECT_NE(errorOf("x = " + std::string(5000, '-') + "1").find("nested too deeply"),
              std::string::npos);
}

TEST(ScriptParser, NodesCarryTheirLines)
{
    const avs::script::Script s = avs::script::Parse(
        "\n# c\np0=ImageSource(\"x.jpg\", 1,1,25)\r\n\r\nreturn p0 + p0\r\n", "t.avs");
    ASSERT_EQ(s.statements.size(), 2u);
    EXPECT_EQ(s.statements[0].kind, avs::script::Statement::Kind::Assign);
    EXPECT_EQ(s.statements[0].name, "p0");
    EXPECT_EQ(s.statements[0].value->where.line, 3);
    ASSERT_EQ(s.statements[0].value->arguments.size(), 4u);
    EXPECT_EQ(s.statements[0].value->arguments[0].value->text, "x.jpg");
    EXPECT_EQ(s.statements[1].kind, avs::script::Statement::Kind::Return);
    EXPECT_EQ(s.statements[1].value->kind, avs::script::Node::Kind::Chain);
    EXPECT_EQ(s.statements[1].value->rest[0].second->where.line, 5);
    EXPECT_EQ(*s.fileName, "t.avs");
}

} // namespace
