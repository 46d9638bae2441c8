/* A host of the import component in plain C. It loads the library, creates the import service
 * through the class factory, imports one log file into a database and prints what the service
 * tells afterwards: the action taken, the imported dates and the lines it did not recognise, or
 * on a failure the component's last error report. Then it releases everything and asks whether
 * the library may be unloaded.
 *
 *   cc examples/host.c -ldl -o host
 *   ./host [--answer yes|no] build/libVarnLogImp.so /tmp/shop/varnrpt.mdb examples/14-03-2024.log
 *
 * With --answer the host installs a screen of its own: it prints every box the component shows
 * on stdout and answers a question (whether to update a day already imported) as told, which a
 * host without a terminal needs. Without it the component chooses its own screen (its windows on
 * a desktop, else the terminal, which answers No when it cannot ask).
 *
 * Exit status: 0 imported, 1 not imported (refused, declined or failed: the component has told
 * the user why), 2 the library could not be used or still held objects at the end.
 */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "VarnLogProcess.h"

static struct {
  PFN_DllGetClassObject DllGetClassObject;
  PFN_DllCanUnloadNow DllCanUnloadNow;
  PFN_SysAllocStringLen SysAllocStringLen;
  PFN_SysStringLen SysStringLen;
  PFN_SysFreeString SysFreeString;
  PFN_VariantInit VariantInit;
  PFN_VariantClear VariantClear;
  PFN_VarnInstallScreen VarnInstallScreen;
  PFN_VarnGetLastError VarnGetLastError;
} lib;

/* dlsym gives an object pointer; copying it keeps the conversion to a function pointer legal. */
static int Bind(void* library, const char* name, void* entry) {
  void* symbol = dlsym(library, name);
  if (!symbol) {
    fprintf(stderr, "host: the library exports no %s\n", name);
    return 0;
  }
  memcpy(entry, &symbol, sizeof symbol);
  return 1;
}

static int BindAll(void* library) {
  return Bind(library, "DllGetClassObject", &lib.DllGetClassObject) &&
         Bind(library, "DllCanUnloadNow", &lib.DllCanUnloadNow) &&
         Bind(library, "SysAllocStringLen", &lib.SysAllocStringLen) &&
         Bind(library, "SysStringLen", &lib.SysStringLen) && Bind(library, "SysFreeString", &lib.SysFreeString) &&
         Bind(library, "VariantInit", &lib.VariantInit) && Bind(library, "VariantClear", &lib.VariantClear) &&
         Bind(library, "VarnInstallScreen", &lib.VarnInstallScreen) &&
         Bind(library, "VarnGetLastError", &lib.VarnGetLastError);
}

static int Succeeded(HRESULT hr, const char* what) {
  if (SUCCEEDED(hr)) return 1;
  fprintf(stderr, "host: %s failed with 0x%08X\n", what, (unsigned)hr);
  return 0;
}

/* UTF-8 text as a BSTR (the command line's paths may hold any letters). */
static BSTR ToBstr(const char* text) {
  size_t length = strlen(text), used = 0, n = 0;
  OLECHAR* units = malloc((length + 1) * sizeof(OLECHAR));
  BSTR result;
  if (!units) return NULL;
  while (n < length) {
    unsigned char lead = (unsigned char)text[n];
    unsigned long code = lead;
    int more = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    if (more) code = lead & (0x3F >> more);
    for (++n; more > 0 && n < length; --more, ++n) code = (code << 6) | ((unsigned char)text[n] & 0x3F);
    if (code >= 0x10000) {
      code -= 0x10000;
      units[used++] = (OLECHAR)(0xD800 + (code >> 10));
      units[used++] = (OLECHAR)(0xDC00 + (code & 0x3FF));
    } else {
      units[used++] = (OLECHAR)code;
    }
  }
  result = lib.SysAllocStringLen(units, (uint32_t)used);
  free(units);
  return result;
}

static void PrintBstr(BSTR text) {
  uint32_t length = lib.SysStringLen(text), n;
  for (n = 0; n < length; ++n) {
    unsigned long code = text[n];
    if (code >= 0xD800 && code < 0xDC00 && n + 1 < length) code = 0x10000 + ((code - 0xD800) << 10) + (text[++n] - 0xDC00);
    if (code < 0x80) {
      putchar((int)code);
    } else if (code < 0x800) {
      putchar((int)(0xC0 | (code >> 6)));
      putchar((int)(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      putchar((int)(0xE0 | (code >> 12)));
      putchar((int)(0x80 | ((code >> 6) & 0x3F)));
      putchar((int)(0x80 | (code & 0x3F)));
    } else {
      putchar((int)(0xF0 | (code >> 18)));
      putchar((int)(0x80 | ((code >> 12) & 0x3F)));
      putchar((int)(0x80 | ((code >> 6) & 0x3F)));
      putchar((int)(0x80 | (code & 0x3F)));
    }
  }
}

/* A DATE as dd/mm/yyyy: whole days since 30/12/1899, turned into a civil date. */
static void PrintDate(DATE date) {
  long whole = (long)date - ((double)(long)date > date); /* rounded down, before 1900 too */
  long days = whole - 25569 + 719468;                      /* from 1 March of year 0 */
  long era = (days >= 0 ? days : days - 146096) / 146097;
  long dayOfEra = days - era * 146097;
  long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  long shiftedMonth = (5 * dayOfYear + 2) / 153;
  long day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  long month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  long year = yearOfEra + era * 400 + (month <= 2);
  printf("%02ld/%02ld/%04ld", day, month, year);
}

static int PrintHistoryItem(_Collection* history, int32_t position) {
  VARIANT index, item;
  _clsItemDateRange* record = NULL;
  DATE logDate = 0;
  double total = 0;
  int32_t dateID = 0;
  int ok;
  lib.VariantInit(&index);
  lib.VariantInit(&item);
  index.vt = VT_I4;
  index.lVal = position;
  ok = Succeeded(history->lpVtbl->Item(history, &index, &item), "Item") &&
       Succeeded(item.pdispVal->lpVtbl->QueryInterface(item.pdispVal, &IID__clsItemDateRange, (void**)&record),
                 "QueryInterface(_clsItemDateRange)") &&
       Succeeded(record->lpVtbl->get_LogDate(record, &logDate), "LogDate") &&
       Succeeded(record->lpVtbl->get_DateTotal(record, &total), "DateTotal") &&
       Succeeded(record->lpVtbl->get_Date_ID(record, &dateID), "Date_ID");
  if (ok) {
    printf("  ");
    PrintDate(logDate);
    printf("  total %.2f  key %d\n", total, (int)dateID);
  }
  if (record) record->lpVtbl->Release(record);
  lib.VariantClear(&item);
  return ok;
}

static int PrintHistory(_clsLogAnalysis* service) {
  _Collection* history = NULL;
  int32_t count = 0, position;
  int ok = Succeeded(service->lpVtbl->get_HistoryLogDates(service, &history), "HistoryLogDates");
  printf("History:\n");
  if (ok && history) {
    ok = Succeeded(history->lpVtbl->Count(history, &count), "Count");
    for (position = 1; ok && position <= count; ++position) ok = PrintHistoryItem(history, position);
  }
  if (history) history->lpVtbl->Release(history);
  return ok;
}

static int PrintUncategorised(_clsLogAnalysis* service) {
  BSTR lines = NULL;
  if (!Succeeded(service->lpVtbl->get_UncategorisedLines(service, &lines), "UncategorisedLines")) return 0;
  printf("Uncategorised lines:\n");
  PrintBstr(lines);
  if (lib.SysStringLen(lines) > 0) putchar('\n');
  lib.SysFreeString(lines);
  return 1;
}

/* The host's screen: its context is the answer to give, and it counts the passes of pending
 * events (one per line read), where a windowed host would let its own window repaint. */
typedef struct HostScreen {
  int32_t answer;
  long events;
} HostScreen;

static int32_t ShowBox(void* context, BSTR prompt, int32_t style, BSTR title) {
  HostScreen* screen = context;
  int question = (style & 7) == VARN_MB_YESNO;
  printf("Box (style %d) ", (int)style);
  PrintBstr(title);
  printf(":\n");
  PrintBstr(prompt);
  printf("\n");
  if (!question) return VARN_IDOK;
  printf("Answered: %s\n", screen->answer == VARN_IDYES ? "Yes" : "No");
  return screen->answer;
}

static void LetEventsRun(void* context) { ((HostScreen*)context)->events++; }

/* The component's last error report, after a call that failed. */
static void PrintLastError(void) {
  int32_t number = 0;
  BSTR source = NULL, description = NULL;
  if (!Succeeded(lib.VarnGetLastError(&number, &source, &description), "VarnGetLastError")) return;
  if (number != 0) {
    printf("Last error: %d ", (int)number);
    PrintBstr(source);
    printf(": ");
    PrintBstr(description);
    printf("\n");
  }
  lib.SysFreeString(source);
  lib.SysFreeString(description);
}

static _clsLogAnalysis* CreateService(void) {
  IClassFactory* factory = NULL;
  _clsLogAnalysis* service = NULL;
  if (!Succeeded(lib.DllGetClassObject(&CLSID_clsLogAnalysis, &IID_IClassFactory, (void**)&factory),
                 "DllGetClassObject")) {
    return NULL;
  }
  Succeeded(factory->lpVtbl->CreateInstance(factory, NULL, &IID__clsLogAnalysis, (void**)&service), "CreateInstance");
  factory->lpVtbl->Release(factory);
  return service;
}

/* 0 imported, 1 not imported, 2 a call failed. */
static int Run(_clsLogAnalysis* service, const char* databasePath, const char* logPath) {
  BSTR database = ToBstr(databasePath), log = ToBstr(logPath);
  VARIANT_BOOL connected = VARIANT_FALSE, imported = VARIANT_FALSE;
  int32_t action = 0;
  int ok = database && log && Succeeded(service->lpVtbl->Initialize(service, database), "Initialize") &&
           Succeeded(service->lpVtbl->get_IsConnected(service, &connected), "IsConnected");
  if (ok && connected) {
    ok = Succeeded(service->lpVtbl->ProcessLogFile(service, log, &imported), "ProcessLogFile") &&
         Succeeded(service->lpVtbl->get_WhatDBAction(service, &action), "WhatDBAction");
  }
  if (ok) {
    printf("Connected: %s\nImported: %s\nWhatDBAction: %d\n", connected ? "True" : "False",
           imported ? "True" : "False", (int)action);
    ok = PrintHistory(service) && PrintUncategorised(service);
  }
  if (ok && !imported) PrintLastError();
  lib.SysFreeString(database);
  lib.SysFreeString(log);
  return !ok ? 2 : imported ? 0 : 1;
}

int main(int argc, char** argv) {
  void* library;
  _clsLogAnalysis* service;
  int status, own = argc == 6 && strcmp(argv[1], "--answer") == 0;
  HostScreen screen = {VARN_IDNO, 0};
  VARNSCREEN table;
  HRESULT unload;
  if (argc != 4 && !(own && (strcmp(argv[2], "yes") == 0 || strcmp(argv[2], "no") == 0))) {
    fprintf(stderr, "usage: %s [--answer yes|no] LIBRARY DATABASE LOGFILE\n", argv[0]);
    return 2;
  }
  if (own) {
    screen.answer = strcmp(argv[2], "yes") == 0 ? VARN_IDYES : VARN_IDNO;
    argv += 2;
  }
  library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    fprintf(stderr, "host: %s\n", dlerror());
    return 2;
  }
  if (!BindAll(library)) {
    dlclose(library);
    return 2;
  }
  if (own) {
    memset(&table, 0, sizeof table);
    table.cbSize = sizeof table;
    table.pContext = &screen;
    table.MsgBox = ShowBox;
    table.DoEvents = LetEventsRun;
    if (!Succeeded(lib.VarnInstallScreen(&table), "VarnInstallScreen")) return 2;
  }
  if (!(service = CreateService())) {
    dlclose(library);
    return 2;
  }
  status = Run(service, argv[2], argv[3]);
  service->lpVtbl->Release(service);
  if (own) {
    printf("Pending events let run: %ld\n", screen.events);
    /* The screen's context ends with main: the component's own screen comes back. */
    lib.VarnInstallScreen(NULL);
  }

  unload = lib.DllCanUnloadNow();
  printf("DllCanUnloadNow: %s\n", unload == S_OK ? "S_OK" : "S_FALSE");
  if (unload != S_OK) return 2;
  dlclose(library);
  return status;
}
