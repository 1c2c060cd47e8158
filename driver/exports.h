// The library's exported entry points. Every operation export takes a request (a BSTR the
// caller owns; null is the empty text) and returns the result document and the error text
// through two BSTR variables, which it sets to null on entry without releasing them and then
// fills with new strings that the caller releases with SysFreeString (an empty text is a
// null BSTR). Result: 0 or -1 (VERSION always 0; GENERATE_KEYID 1 on success, else 0).
// Nothing is thrown out of an export; calls from several threads are serialised.
#ifndef QVPA_DRIVER_EXPORTS_H_
#define QVPA_DRIVER_EXPORTS_H_

#include <cstdint>

#include "driver/export.h"
#include "driver/ole_string.h"

extern "C" {
QVPA_EXPORT int16_t QVPA_CALL OPEN(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage);
QVPA_EXPORT int16_t QVPA_CALL CLOSE(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage);
QVPA_EXPORT int16_t QVPA_CALL PAY(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage);
QVPA_EXPORT int16_t QVPA_CALL REPRINT(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage);
QVPA_EXPORT int16_t QVPA_CALL GETSTATUS(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage);
QVPA_EXPORT int16_t QVPA_CALL DAYCLOSE(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage);
QVPA_EXPORT int16_t QVPA_CALL GETTOTALS(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage);
QVPA_EXPORT int16_t QVPA_CALL VERIFYTRAN(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage);
// aXml: a driver registration name; *aOutput: the driver's version text, or null when the
// name is not registered.
QVPA_EXPORT int16_t QVPA_CALL VERSION(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage);
// aXml: the parameter text; *aOutput: the key identifier (result 1), or *aErrorMessage the
// failure (result 0).
QVPA_EXPORT int16_t QVPA_CALL GENERATE_KEYID(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage);
}

#endif  // QVPA_DRIVER_EXPORTS_H_
