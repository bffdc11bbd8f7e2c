#pragma once

// Runs the command line tool in process, in a scratch folder of the test's
// own, and keeps what it wrote to standard output and error.

#include "cli/ReportSupport.h"
#include "cli/VerifyCommand.h"
#include "tests/support/Fixtures.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcessEnvironment>
#include <QTextStream>
#include <gtest/gtest.h>

namespace selavia::testing {

class CliRunTest : public ::testing::Test {
protected:
    int run(const QStringList& arguments, const verify::LoadOptions& options, QString input = {})
    {
        return runOnBytes(arguments, options, input.toUtf8());
    }
    // Standard input as bytes, which need not be UTF-8; and where the
    // command runs.
    int runOnBytes(const QStringList& arguments, const verify::LoadOptions& options,
                   QByteArray input, const cli::Terminal& terminal = {})
    {
        out_.clear();
        err_.clear();
        QTextStream out(&out_);
        QTextStream err(&err_);
        return cli::runVerifyCommand(
            arguments, out, err, [&options] { return options; }, cli::bytesSource(std::move(input)),
            cli::pdfReports(), terminal);
    }

    // Standard output as one JSON object, or one object per line.
    QJsonObject json() const { return QJsonDocument::fromJson(out_.toUtf8()).object(); }
    QList<QJsonObject> jsonLines() const
    {
        QList<QJsonObject> objects;
        for (const QString& line : out_.split('\n', Qt::SkipEmptyParts)) {
            QJsonParseError error{};
            objects << QJsonDocument::fromJson(line.toUtf8(), &error).object();
            EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        }
        return objects;
    }

    // The real program's environment, its system store holding only `root`.
    QProcessEnvironment storeHolding(const fx::Cert& root) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("SSL_CERT_FILE", dir_.write("raiz.pem", root.pem()));
        environment.insert("SSL_CERT_DIR", dir_.filePath("nenhum"));
        return environment;
    }

    ScratchFolder dir_;
    QString out_;
    QString err_;
};

} // namespace selavia::testing
