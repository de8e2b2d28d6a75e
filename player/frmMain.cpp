#include "player/frmMain.h"

frmMain::frmMain(QWidget* parent) : QWidget(parent) {}

void frmMain::load() {}
