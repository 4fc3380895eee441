#pragma once

#include <QObject>

class LocalDatabase;
class QWidget;

// Gives a store in keyring mode its key from the desktop keyring, once per
// unlock: at start and again after every lock, which forgets the key with the
// other keys in memory. While the key is read the window takes no input; when
// the keyring cannot give it, the window stays locked with the reason and
// offers to try again (after unlocking the keyring, say) or to quit with
// status 1. Nothing is written either way. Nothing to do in file mode.
class CStoreKeyReader : public QObject
{
    Q_OBJECT

public:
    CStoreKeyReader(LocalDatabase& database, QWidget* window);

    // Reads the key when the store needs one and no read is under way.
    void Read();
    // Forgets the key (the window has locked) and reads it anew.
    void Renew();

private:
    void Refuse(const QString& reason);

    LocalDatabase& database;
    QWidget* window;
    QObject* hold = nullptr; // holds the window's input while a read is under way
};
