#pragma once
// Qt's own texts (the buttons of message boxes, the file dialogs and their
// questions, the context menus of edits) in Russian, as every text of the
// program is, whatever the system's language.

class QCoreApplication;

// Loads Qt's Russian translation from Qt's translations folder and installs
// it in the application; false when it is not there (Qt's texts then stay
// English). Call once, after the application object is made.
bool InstallQtTranslations(QCoreApplication &app);
