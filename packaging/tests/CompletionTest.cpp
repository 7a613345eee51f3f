// bash completion of pixkeyctl, run in a real bash with the bash-completion framework, against the
// pixkeyctl of this build (whose --help lists the commands).

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QProcess>
#include <QStringList>

namespace {

// What completing the last word of `words` offers.
QStringList complete(const QStringList &words)
{
    const QString script = QStringLiteral(
        "source /usr/share/bash-completion/bash_completion || exit 3\n"
        "source '" COMPLETION_FILE "' || exit 4\n"
        "COMP_WORDS=(\"$@\"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n"
        "COMP_LINE=\"$*\"; COMP_POINT=${#COMP_LINE}; COMPREPLY=()\n"
        "_pixkeyctl pixkeyctl \"${COMP_WORDS[COMP_CWORD]}\" \"${COMP_WORDS[COMP_CWORD-1]}\"\n"
        "printf '%s\\n' \"${COMPREPLY[@]}\"\n");
    QProcess bash;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"), QFileInfo(QStringLiteral(PIXKEYCTL_PATH)).absolutePath() + QStringLiteral(":") +
                                           env.value(QStringLiteral("PATH")));
    bash.setProcessEnvironment(env);
    bash.start(QStringLiteral("bash"), QStringList{QStringLiteral("--norc"), QStringLiteral("--noprofile"),
                                                   QStringLiteral("-c"), script, QStringLiteral("complete")} +
                                           words);
    if (!bash.waitForFinished(60000) || bash.exitCode() != 0) {
        ADD_FAILURE() << "bash: " << bash.exitCode() << " " << bash.readAllStandardError().toStdString();
        return {};
    }
    QStringList offered = QString::fromLocal8Bit(bash.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    offered.sort();
    return offered;
}

TEST(Completion, CommandsComeFromPixkeyctlItselfAndTheirArgumentsFollow)
{
    const QString ctl = QStringLiteral("pixkeyctl");
    EXPECT_EQ(complete({ctl, QStringLiteral("aut")}), QStringList{QStringLiteral("autostart")});
    // A command only --help names (not in the fallback list) completes too.
    EXPECT_EQ(complete({ctl, QStringLiteral("scr")}), QStringList{QStringLiteral("screenshot")});
    EXPECT_EQ(complete({ctl, QStringLiteral("autostart"), QString()}),
              (QStringList{QStringLiteral("off"), QStringLiteral("on"), QStringLiteral("status")}));
    // An option's value is not taken for the command.
    EXPECT_TRUE(complete({ctl, QStringLiteral("--port"), QStringLiteral("/dev/null"), QStringLiteral("autostart"),
                          QStringLiteral("st")})
                    .contains(QStringLiteral("status")));
    EXPECT_EQ(complete({ctl, QStringLiteral("--orientation"), QString()}),
              (QStringList{QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
    EXPECT_EQ(complete({ctl, QStringLiteral("--ho")}), QStringList{QStringLiteral("--hold")});
    // The rows by the names the host uses; switch-layout and desktop are listed by --help.
    EXPECT_EQ(complete({ctl, QStringLiteral("row"), QStringLiteral("Al")}),
              (QStringList{QStringLiteral("Alt"), QStringLiteral("Alt+Shift")}));
    EXPECT_EQ(complete({ctl, QStringLiteral("sw")}), QStringList{QStringLiteral("switch-layout")});
    EXPECT_EQ(complete({ctl, QStringLiteral("des")}), QStringList{QStringLiteral("desktop")});
}

} // namespace
