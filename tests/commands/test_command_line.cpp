// The command-line rules of start-up.
#include <gtest/gtest.h>

#include "commands/command_line.h"

static command_line_t parse(std::vector<wxString> args) { return parse_command_line(args); }

TEST(CommandLine, BatchSwitchInEitherCase)
{
    // The second character decides.
    using args = std::vector<wxString>;
    for (const args& a : std::vector<args>{{"-m"}, {"-M"}, {"-Metal"}}) EXPECT_TRUE(parse(a).batch);
    for (const args& a : std::vector<args>{{"-x"}, {}, {"-"}}) EXPECT_FALSE(parse(a).batch);
}

TEST(CommandLine, LaterFileNameWinsAndSwitchesAreNotFileNames)
{
    EXPECT_EQ(parse({"a.dcm", "b.dcm"}).file_name, "b.dcm");
    EXPECT_EQ(parse({"a.dcm", "-x"}).file_name, "a.dcm");
    EXPECT_EQ(parse({"-"}).file_name, "");
    const command_line_t both = parse({"-M", "scan.dcm"});
    EXPECT_EQ(std::make_pair(both.batch, both.file_name), std::make_pair(true, wxString("scan.dcm")));
    // A UTF-8 name read byte by byte (the C locale) is the file system's name again; text that
    // is no UTF-8 in bytes stays as given.
    EXPECT_EQ(parse({wxString::FromUTF8("M\xC3\x83\xC2\xBCller/ct.dcm")}).file_name, wxString::FromUTF8("M\xC3\xBCller/ct.dcm"));
    EXPECT_EQ(parse({wxString::FromUTF8("M\xC3\xBCller.dcm")}).file_name, wxString::FromUTF8("M\xC3\xBCller.dcm"));
}
