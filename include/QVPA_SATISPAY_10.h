/* QVPA_SATISPAY_10: the payment driver library's C interface, for C (C99 and later) and C++.
 *
 * Ten exports with one signature: a request in aXml, the result document in *aOutput, the
 * error text in *aErrorMessage. Text is UTF-16 in BSTRs (a 32-bit byte count, the code
 * units, a 16-bit NUL).
 * - aXml belongs to the caller; a null BSTR is the empty text.
 * - On entry an export sets *aOutput and *aErrorMessage to null without releasing what they
 *   held, so pass empty variables. The strings it stores there belong to the caller, who
 *   releases them with SysFreeString; an empty text comes back as null.
 * - Result: 0 on success, -1 on failure; VERSION and GETSTATUS always 0; GENERATE_KEYID 1
 *   on success, else 0. Nothing is thrown out of an export.
 * On Windows the strings are the system's (oleaut32); elsewhere the library exports its own
 * SysAllocString family, declared below: use it for what you pass in and get back.
 * On 32-bit Windows the exports are stdcall functions under undecorated names (PAY, not
 * PAY@12): link with an import library that maps the decorated names to them (MinGW:
 * dlltool -k -d tools/c-host/QVPA_SATISPAY_10_stdcall.def -l libQVPA_SATISPAY_10.a), or look
 * them up with GetProcAddress as QVPA_SATISPAY_10_EXPORT. */
#ifndef QVPA_SATISPAY_10_H_
#define QVPA_SATISPAY_10_H_

#include <stdint.h>

#if defined(_WIN32)
#include <windows.h>
#include <oleauto.h>
#endif

#if defined(_WIN32) && !defined(_WIN64)
#define QVPA_SATISPAY_10_CALL __stdcall
#else
#define QVPA_SATISPAY_10_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

#if !defined(_WIN32)
/* A UTF-16 code unit: char16_t in C++, the same 16-bit unsigned type in C. */
#ifdef __cplusplus
typedef char16_t OLECHAR;
#else
typedef uint_least16_t OLECHAR;
#endif
typedef OLECHAR* BSTR;

/* A copy of the NUL-terminated text; null for a null text. */
BSTR SysAllocString(const OLECHAR* aText);
/* aLength code units copied from aText (zeroed when aText is null); null when out of memory. */
BSTR SysAllocStringLen(const OLECHAR* aText, unsigned int aLength);
/* Releases a string of this family; null does nothing. */
void SysFreeString(BSTR aText);
/* Length in code units; 0 for null. */
unsigned int SysStringLen(BSTR aText);
#endif

/* The type of every export, for hosts that look them up at run time. */
typedef int16_t(QVPA_SATISPAY_10_CALL* QVPA_SATISPAY_10_EXPORT)(BSTR aXml, BSTR* aOutput,
                                                                BSTR* aErrorMessage);

/* Opens a device (driver, log id, connection, parameters); the result holds its <Handle>. */
int16_t QVPA_SATISPAY_10_CALL OPEN(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage);
/* Closes the device of <Handle>. */
int16_t QVPA_SATISPAY_10_CALL CLOSE(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage);
/* A payment, refund or void, phase by phase (<Payment>). */
int16_t QVPA_SATISPAY_10_CALL PAY(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage);
/* The last receipt again (<Reprint>). */
int16_t QVPA_SATISPAY_10_CALL REPRINT(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage);
/* The library's state; reads no request, always 0. */
int16_t QVPA_SATISPAY_10_CALL GETSTATUS(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage);
/* The day's closure (<DayClose>). */
int16_t QVPA_SATISPAY_10_CALL DAYCLOSE(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage);
/* The running totals (<GetTotals>). */
int16_t QVPA_SATISPAY_10_CALL GETTOTALS(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage);
/* What became of an earlier payment, by its reference (<VerifyTran><ReceiptId>). */
int16_t QVPA_SATISPAY_10_CALL VERIFYTRAN(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage);
/* aXml: a driver name; *aOutput: its version text, or null for an unknown name. */
int16_t QVPA_SATISPAY_10_CALL VERSION(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage);
/* aXml: "token=<activation token>|staging=<true|false>"; *aOutput: the key id (result 1). */
int16_t QVPA_SATISPAY_10_CALL GENERATE_KEYID(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage);

#ifdef __cplusplus
}
#endif

#endif /* QVPA_SATISPAY_10_H_ */
