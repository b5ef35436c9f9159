#ifndef GUITHREAD_H
#define GUITHREAD_H

// True when a QCoreApplication exists and the caller runs on its thread.
bool isGuiThread();

#endif
