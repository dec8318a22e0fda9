// The driver's library on Windows: a module of the program, known by the file name the driver
// manager gives. Under Wine the driver manager hands over to the host's, whose driver is no module of
// this process: the lookup then finds nothing, and the rest of an answer is read as driverresults.h
// describes.

#include "driverlibrary.h"

namespace odbc {

QString loadedDriverLibrary(const QByteArray &driver)
{
    return QString::fromLocal8Bit(driver);
}

} // namespace odbc
