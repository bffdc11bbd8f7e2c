#pragma once

// A document window of the test's own, on a signed file it writes into a
// folder of its own, with the desktop answered by the test.

#include "app/FrmOpen.h"
#include "tests/support/Controls.h"
#include "tests/support/FakeDesktop.h"
#include "tests/support/Fixtures.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace selavia::testing {

class DocumentWindowFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        qputenv("TEMP", dir_.path().toLocal8Bit());
    }
    void TearDown() override
    {
        window_.reset();
        qunsetenv("TEMP");
    }

    // `fileBytes` saved as `fileName` and opened in a fresh window.
    selavia::app::FrmOpen& open(const fx::Bytes& fileBytes, const QString& fileName,
                                bool trusted = true)
    {
        const QString path = dir_.filePath(fileName);
        fx::writeFile(path.toStdString(), fileBytes);
        window_ = std::make_unique<selavia::app::FrmOpen>(
            desktop_, trusted ? trustingIcp() : sig::TrustStore::empty());
        window_->Form_Load(path);
        return *window_;
    }

    QTemporaryDir dir_;
    FakeDesktop desktop_;
    std::unique_ptr<selavia::app::FrmOpen> window_;
};

} // namespace selavia::testing
