#pragma once

#include <QMetaType>

// Why an update the user chose could not go on, as the progress window tells it.
enum class UpdateFailure {
    // The package did not arrive as the release announced it, or could not be written.
    Corrupted,
    // The transfer stalled or broke off.
    Network,
    // The package arrived whole but could not be installed; the client folder is as it was.
    InstallFailed,
};

Q_DECLARE_METATYPE(UpdateFailure)
