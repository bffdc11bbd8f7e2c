#include "platform/desktop/SingleInstance.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(SingleInstanceTest, ASecondInstanceIsRefusedWhileTheFirstLives)
{
    QTemporaryDir dir;
    const QString lock = dir.filePath("selavia.lock");
    {
        selavia::desktop::SingleInstance first(lock);
        ASSERT_TRUE(first.acquire());
        selavia::desktop::SingleInstance second(lock);
        EXPECT_FALSE(second.acquire());
    }
    selavia::desktop::SingleInstance afterwards(lock);
    EXPECT_TRUE(afterwards.acquire());
}

TEST(SingleInstanceTest, ALockLeftByAProcessThatIsGoneDoesNotCount)
{
    QTemporaryDir dir;
    const QString lock = dir.filePath("selavia.lock");
    QProcess gone;
    gone.start("true", {});
    ASSERT_TRUE(gone.waitForFinished(10000));
    const qint64 deadPid = gone.processId() != 0 ? gone.processId() : 999999;
    QFile file(lock);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::number(deadPid > 0 ? deadPid : 999999) + "\n" +
               QCoreApplication::applicationName().toUtf8() + "\n" +
               QSysInfo::machineHostName().toUtf8() + "\n");
    file.close();
    selavia::desktop::SingleInstance instance(lock);
    EXPECT_TRUE(instance.acquire());
}
