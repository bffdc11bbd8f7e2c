#include "platform/shell/CommandLine.h"

#include "tests/support/Printers.h"

#include <gtest/gtest.h>
#include <vector>

using selavia::shell::CommandLine;
using selavia::shell::splitCommandLine;

TEST(CommandLineTest, SplitsAtBarsOrBlanksKeepingEmptyPartsAndQuotes)
{
    struct Case {
        QString text;
        QString option;
        QString argument;
        bool incorrect;
    };
    const std::vector<Case> cases = {
        {"", "", "", false},
        {"-o|/tmp/meus docs/contrato.slv", "-o", "/tmp/meus docs/contrato.slv", false},
        {"-o /tmp/meus docs/contrato.slv", "-o", "/tmp/meus", false},
        {"-o|/tmp/CONTRATO.SLV", "-o", "/tmp/CONTRATO.SLV", false},
        {"-O|/tmp/contrato.slv", "-O", "/tmp/contrato.slv", false},
        {"/tmp/contrato.slv", "", "", true},
        {"-o", "", "", true},
        {"-o|/tmp/contrato.slv|mais coisas", "-o", "/tmp/contrato.slv", false},
        {" -o /tmp/contrato.slv", "", "-o", false},
        {"-o  /tmp/x.slv", "-o", "", false},
        {"-o \"/tmp/contrato.slv\"", "-o", "\"/tmp/contrato.slv\"", false},
    };
    for (const Case& c : cases) {
        const CommandLine line = splitCommandLine(c.text);
        EXPECT_EQ(line.option, c.option) << c.text.toStdString();
        EXPECT_EQ(line.argument, c.argument) << c.text.toStdString();
        EXPECT_EQ(line.incorrect, c.incorrect) << c.text.toStdString();
    }
    EXPECT_EQ(selavia::shell::commandLineText({"-o", "/tmp/a", "b.slv"}), "-o /tmp/a b.slv");
    EXPECT_EQ(selavia::shell::commandLineText({}), "");
}
