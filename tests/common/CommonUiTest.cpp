// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/AppTitle.h"
#include "common/ErrorReport.h"
#include "common/MessageDlg.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QEvent>

#include <gtest/gtest.h>

using TestSupport::MessageLog;

TEST(ErrorText, FullStopOnlyWhenTheLastCharacterSortsAfterIt)
{
    EXPECT_EQ(ErrorMessageText(QStringLiteral("Unable to write to /a")), QStringLiteral("Unable to write to /a."));
    EXPECT_EQ(ErrorMessageText(QStringLiteral("Done.")), QStringLiteral("Done."));
    EXPECT_EQ(ErrorMessageText(QStringLiteral("Really!")), QStringLiteral("Really!"));
    EXPECT_EQ(ErrorMessageText(QStringLiteral("Path /a/")), QStringLiteral("Path /a/."));
    EXPECT_EQ(ErrorMessageText(QString()), QString());
}

TEST(MessageDlgRules, CaptionsDefaultAndCancelButtons)
{
    auto r = MakeMessageDlgRequest(QStringLiteral("q"), TMsgDlgType::mtConfirmation, mbYes | mbNo);
    EXPECT_EQ(r.Caption, QStringLiteral("Confirm"));
    EXPECT_TRUE(r.HasDefault);
    EXPECT_EQ(r.DefaultButton, mbYes);
    EXPECT_EQ(r.CancelButton, mbNo);

    r = MakeMessageDlgRequest(QStringLiteral("q"), TMsgDlgType::mtError, mbAbort);
    EXPECT_EQ(r.Caption, QStringLiteral("Error"));
    EXPECT_FALSE(r.HasDefault);
    EXPECT_FALSE(r.HasCancel);

    r = MakeMessageDlgRequest(QStringLiteral("q"), TMsgDlgType::mtWarning, mbOK | mbCancel | mbRetry);
    EXPECT_EQ(r.Caption, QStringLiteral("Warning"));
    EXPECT_EQ(r.DefaultButton, mbOK);
    EXPECT_EQ(r.CancelButton, mbCancel);

    r = MakeMessageDlgRequest(QStringLiteral("q"), TMsgDlgType::mtInformation, mbOK);
    EXPECT_EQ(r.Caption, QStringLiteral("Information"));
    EXPECT_EQ(r.CancelButton, mbOK);

    r = MakeMessageDlgRequest(QStringLiteral("q"), TMsgDlgType::mtError, mbRetry | mbAbort);
    EXPECT_EQ(r.DefaultButton, mbRetry);
    EXPECT_FALSE(r.HasCancel);

    EXPECT_EQ(MsgDlgButtonText(mbYes), QStringLiteral("&Yes"));
    EXPECT_EQ(MsgDlgButtonText(mbAbort), QStringLiteral("&Abort"));
}

namespace {
class TThrowingObject : public QObject {
public:
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::User)
            throw TException(QStringLiteral("Unable to write to /nowhere/Folder.dnt"));
        return QObject::event(e);
    }
};
} // namespace

TEST(ErrorReport, AnExceptionFromAHandlerIsShownAndTheProgramGoesOn)
{
    MessageLog().Requests.clear();
    TThrowingObject object;
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&object, &event);
    ASSERT_EQ(MessageLog().Requests.size(), 1u);
    const auto &shown = MessageLog().Requests.front();
    EXPECT_EQ(shown.Text, QStringLiteral("Unable to write to /nowhere/Folder.dnt."));
    EXPECT_EQ(shown.Type, TMsgDlgType::mtError);
    EXPECT_EQ(shown.Caption, ApplicationTitle());
    // The application still dispatches events afterwards.
    QEvent again(QEvent::User);
    QCoreApplication::sendEvent(&object, &again);
    EXPECT_EQ(MessageLog().Requests.size(), 2u);
}
