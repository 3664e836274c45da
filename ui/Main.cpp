#include "ui/Main.h"

TFrmMain::TFrmMain(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("FrmMain"));
    setWindowTitle(QStringLiteral("DirNote"));
}
