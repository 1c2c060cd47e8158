/* A host in C that includes only the library's public header: registers a key with an
 * activation token, opens a device with it, takes one payment (BEGIN, DO until the customer
 * has approved, COMMIT) and closes the device. Prints every request and result.
 * Usage: pay_once <activation token> <reference> [staging] */
#if !defined(_WIN32)
#define _POSIX_C_SOURCE 200809L /* nanosleep in strict C99 */
#endif
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "QVPA_SATISPAY_10.h"

#if defined(_WIN32)
#define PAUSE(ms) Sleep(ms)
#else
#include <time.h>
static void PAUSE(long ms) {
  struct timespec t;
  t.tv_sec = ms / 1000;
  t.tv_nsec = (ms % 1000) * 1000000L;
  nanosleep(&t, NULL);
}
#endif

/* Requests here are ASCII: each byte is one UTF-16 code unit. */
static BSTR ToBstr(const char* text) {
  unsigned int i, n = (unsigned int)strlen(text);
  BSTR s = SysAllocStringLen(NULL, n);
  for (i = 0; s != NULL && i < n; ++i) s[i] = (OLECHAR)(unsigned char)text[i];
  return s;
}

/* The text of a BSTR in a buffer of the caller, code units above ASCII as '?'. */
static const char* ToText(BSTR s, char* buffer, size_t size) {
  unsigned int i, n = SysStringLen(s);
  if (n >= size) n = (unsigned int)size - 1;
  for (i = 0; i < n; ++i) buffer[i] = s[i] < 0x80 ? (char)s[i] : '?';
  buffer[n] = '\0';
  return buffer;
}

static char output[8192];
static char error_text[1024];

/* Calls an export with a request, keeps its result in output/error_text, returns its code. */
static int Call(const char* name, QVPA_SATISPAY_10_EXPORT export_function, const char* request) {
  BSTR xml = ToBstr(request);
  BSTR out = NULL;
  BSTR err = NULL;
  int16_t rc = export_function(xml, &out, &err);
  ToText(out, output, sizeof output);
  ToText(err, error_text, sizeof error_text);
  SysFreeString(xml);
  SysFreeString(out);
  SysFreeString(err);
  printf(">>> %s\n%s\n<<< %d\n%s\n", name, request, (int)rc, output);
  if (error_text[0] != '\0') printf("<<< error text: %s\n", error_text);
  return rc;
}

/* The text of <name>...</name> in output, or "" */
static const char* Element(const char* name, char* buffer, size_t size) {
  char open[64], close[64];
  const char* start;
  const char* end;
  size_t n;
  buffer[0] = '\0';
  sprintf(open, "<%s>", name);
  sprintf(close, "</%s>", name);
  start = strstr(output, open);
  if (start == NULL) return buffer;
  start += strlen(open);
  end = strstr(start, close);
  if (end == NULL) return buffer;
  n = (size_t)(end - start) < size - 1 ? (size_t)(end - start) : size - 1;
  memcpy(buffer, start, n);
  buffer[n] = '\0';
  return buffer;
}

int main(int argc, char** argv) {
  char request[2048], key_id[128], handle[32], payment_id[128], error[16];
  int attempt;
  if (argc < 3) {
    fprintf(stderr, "usage: pay_once <activation token> <reference> [staging]\n");
    return 2;
  }
  sprintf(request, "token=%.64s|staging=%s", argv[1], argc > 3 ? "true" : "false");
  if (Call("GENERATE_KEYID", GENERATE_KEYID, request) != 1) return 1;
  sprintf(key_id, "%.127s", output);

  sprintf(request,
          "<Request><Driver>QVPA_SATISPAY_10</Driver><LogId>POS1</LogId>"
          "<Connection><Type>http</Type></Connection>"
          "<Parameters><KeyID>%s</KeyID><Staging>%s</Staging></Parameters></Request>",
          key_id, argc > 3 ? "true" : "false");
  if (Call("OPEN", OPEN, request) != 0) return 1;
  Element("Handle", handle, sizeof handle);

  sprintf(request,
          "<Request><Handle>%s</Handle><Payment><Action>PAY</Action><Phase>BEGIN</Phase>"
          "<Amount>12.50</Amount><Currency>EUR</Currency><Reference>%.50s</Reference>"
          "</Payment></Request>",
          handle, argv[2]);
  if (Call("PAY", PAY, request) != 0) return 1;
  Element("PaymentNumber", payment_id, sizeof payment_id);

  /* DO answers Error True while the customer has not yet approved in the app. */
  sprintf(request,
          "<Request><Handle>%s</Handle><Payment><Action>PAY</Action><Phase>DO</Phase>"
          "<Attributes>%s</Attributes></Payment></Request>",
          handle, payment_id);
  for (attempt = 0; attempt < 20; ++attempt) {
    Call("PAY", PAY, request);
    if (strcmp(Element("Error", error, sizeof error), "False") == 0) break;
    PAUSE(500);
  }
  if (attempt == 20) return 1;

  sprintf(request,
          "<Request><Handle>%s</Handle><Payment><Action>PAY</Action><Phase>COMMIT</Phase>"
          "</Payment></Request>",
          handle);
  if (Call("PAY", PAY, request) != 0) return 1;

  sprintf(request, "<Request><Handle>%s</Handle></Request>", handle);
  return Call("CLOSE", CLOSE, request) == 0 ? 0 : 1;
}
