#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>

// The built dnt, run as a user runs it: a process of its own, its exit code and both outputs.
struct TDntRun {
    int Code = -1; // -1: it did not start or did not end normally
    QByteArray Out, Err;
};

inline QString Arg(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes);
}

inline TDntRun Dnt(const QStringList &args, const QByteArray &input = {}, const QByteArray &workDir = {})
{
    QProcess process;
    if (!workDir.isEmpty())
        process.setWorkingDirectory(Arg(workDir));
    process.start(QStringLiteral(DNT_PATH), args);
    TDntRun run;
    if (!process.waitForStarted(10000))
        return run;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.Code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.Out = process.readAllStandardOutput();
    run.Err = process.readAllStandardError();
    return run;
}
