#pragma once

#include <QString>
#include <QtGlobal>

struct ReleaseOffer;

class QDialog;

// What the update prompt, the progress dialog and the confirmation panel share: the language
// choice, the texts they all show, and the embedded images.

// English only for the client's exact language code "en"; anything else, empty included, is
// shown in Chinese.
bool IsEnglish();

// A byte count in mebibytes with two decimals, as every size is shown to the user.
QString MebibyteText(qint64 bytes);
QString PackageSizeText(qint64 bytes, bool english);
// The offered version followed by its package's size.
QString VersionLineText(const ReleaseOffer& offer, bool english);
QString AppUpdateTitle();

// The frame both update windows share: a close button only, above other windows, the product
// icon, and the form's size fixed.
void SetUpUpdateWindow(QDialog* window);

// The images live in the static library, where nothing else would keep them linked in.
void LoadDialogImages();
