// Resource ids of the monitor DLLs: the port dialog, the connecting box, the picture and the
// message table. Both builds carry the same resources under different ids; NIMBREL_9X picks the
// Windows 95/98 ones. Included by the .rc files and by the code.
#pragma once

#ifndef NIMBREL_9X

#define IDD_PORT_CONFIG 200
#define IDD_CONNECTING 105
#define IDB_PICTURE 103

#define IDC_URI_LABEL 1005
#define IDC_URI 202
#define IDC_USE_PROXY 1003
#define IDC_PROXY_LABEL 1009
#define IDC_PROXY_SERVER 1001
#define IDC_PROXY_PORT_LABEL 1006
#define IDC_PROXY_PORT 1007
#define IDC_QUERY_ON_ADD 1008
#define IDC_PICTURE (-1)
#define IDC_CHECK_IN_TIME 1017
#define IDC_NOTE_FIRST_LINE (-1)
#define IDC_VERSION 1019

// Typing limits of the edit fields, in characters.
#define URI_TYPING_LIMIT 127

#define IDS_CAPTION 300
#define IDS_BAD_PRINTER_URI 301
#define IDS_PORT_EXISTS 302
#define IDS_BAD_PROXY_NAME 308
#define IDS_PRINTER_NOT_FOUND 309
#define IDS_BAD_REQUEST 310
#define IDS_REQUEST_TIMEOUT 311
#define IDS_PRINTER_MODEL 312
#define IDS_HTTP_ERROR 313
#define IDS_TOO_LONG 314
#define IDS_BAD_PROXY_PORT 315
#define IDS_BUSY 316
#define IDS_NO_PAPER 317
#define IDS_NOT_READY 318
#define IDS_DOOR_OPEN 319
#define IDS_NO_TONER 320
#define IDS_PAPER_JAM 321
#define IDS_CANNOT_CONNECT 322
#define IDS_SEND_FAILED 323
#define IDS_CANNOT_ADD 324

#else

#define IDD_PORT_CONFIG 200
#define IDD_CONNECTING 108
#define IDB_PICTURE 106

#define IDC_URI_LABEL (-1)
#define IDC_URI 201
#define IDC_USE_PROXY 1007
#define IDC_PROXY_LABEL 1008
#define IDC_PROXY_SERVER 1002
#define IDC_PROXY_PORT_LABEL 1009
#define IDC_PROXY_PORT 1014
#define IDC_QUERY_ON_ADD 1015
#define IDC_PICTURE 1017
#define IDC_CHECK_IN_TIME 1018
#define IDC_NOTE_FIRST_LINE 1024
#define IDC_VERSION 1025

// The Windows 95/98 build takes 49 characters, not the 64 its note names.
#define URI_TYPING_LIMIT 49

#define IDS_CAPTION 506
#define IDS_BAD_PRINTER_URI 501
#define IDS_PORT_EXISTS 502
#define IDS_BAD_PROXY_NAME 507
#define IDS_PRINTER_NOT_FOUND 512
#define IDS_BAD_REQUEST 513
#define IDS_REQUEST_TIMEOUT 514
#define IDS_PRINTER_MODEL 515
#define IDS_HTTP_ERROR 516
#define IDS_TOO_LONG 517
#define IDS_BAD_PROXY_PORT 518
#define IDS_BUSY 519
#define IDS_NO_PAPER 520
#define IDS_NOT_READY 521
#define IDS_DOOR_OPEN 522
#define IDS_NO_TONER 523
#define IDS_PAPER_JAM 524
#define IDS_CANNOT_CONNECT 525
#define IDS_SEND_FAILED 526
#define IDS_CANNOT_ADD 527

#endif

#define PROXY_SERVER_TYPING_LIMIT 256
#define PROXY_PORT_TYPING_LIMIT 7
