#pragma once

#include "platform/desktop/Desktop.h"
#include "tests/support/Printers.h"

#include <gtest/gtest.h>
#include <optional>
#include <vector>

// Answers the windows' dialogs in place of a person and records what they asked.
class FakeDesktop : public selavia::desktop::Desktop {
public:
    struct Message {
        selavia::desktop::MessageIcon icon;
        QString title;
        QString text;
    };

    std::vector<Message> messages;
    std::vector<Message> confirmations;
    bool confirmAnswer = false; // false: the user answers "Não"
    std::vector<selavia::desktop::FileDialogRequest> saveRequests;
    std::vector<selavia::desktop::FileDialogRequest> openRequests;
    std::optional<QString> saveAnswer; // nullopt: the user cancels
    std::optional<QString> openAnswer;
    std::vector<QUrl> opened;
    bool openResult = true; // false: no program could be started
    std::vector<selavia::desktop::CertificateView> certificatesShown;
    std::vector<std::optional<selavia::desktop::SignerDetails>> signersShown; // beside each
    int beeps = 0;
    int ends = 0;

    // The text of the one message shown, which must carry `icon` and `title`.
    QString onlyMessage(selavia::desktop::MessageIcon icon,
                        const QString& title = QStringLiteral("Selavia Reader")) const
    {
        EXPECT_EQ(messages.size(), 1u);
        if (messages.size() != 1)
            return QStringLiteral("<%1 messages>").arg(messages.size());
        EXPECT_EQ(messages[0].icon, icon);
        EXPECT_EQ(messages[0].title, title);
        return messages[0].text;
    }

    void message(QWidget*, selavia::desktop::MessageIcon icon, const QString& title,
                 const QString& text) override
    {
        messages.push_back({icon, title, text});
    }
    bool confirm(QWidget*, const QString& title, const QString& text) override
    {
        confirmations.push_back({selavia::desktop::MessageIcon::Exclamation, title, text});
        return confirmAnswer;
    }
    std::optional<QString> saveFileName(QWidget*,
                                        const selavia::desktop::FileDialogRequest& request) override
    {
        saveRequests.push_back(request);
        return saveAnswer;
    }
    std::optional<QString> openFileName(QWidget*,
                                        const selavia::desktop::FileDialogRequest& request) override
    {
        openRequests.push_back(request);
        return openAnswer;
    }
    bool open(const QUrl& target) override
    {
        opened.push_back(target);
        return openResult;
    }
    void showCertificate(QWidget*, const selavia::desktop::CertificateView& certificate,
                         const std::optional<selavia::desktop::SignerDetails>& signer) override
    {
        certificatesShown.push_back(certificate);
        signersShown.push_back(signer);
    }
    void beep() override { ++beeps; }
    void endProgram() override { ++ends; }
};
