// Entry points of the DKQ-116D identity card reader library (stand-in).
// Every result is 0 on success; a non-zero result names the failure (see
// SynResult in the library's source).
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

#define SYN_EXPORT __attribute__((visibility("default")))

// Opens the reader's port; only port 1001 is there.
SYN_EXPORT int Syn_OpenPort(int port);
// Writes the security module's serial as a zero-ended text into `text`,
// which holds at least 128 bytes.
SYN_EXPORT int Syn_GetSAMIDToStr(int port, char* text, int ifOpen);
// Looks for a card on the reader; `manaInfo` (4 bytes) is left as it is.
SYN_EXPORT int Syn_StartFindIDCard(int port, unsigned char* manaInfo, int ifOpen);
// Selects the card found; `manaMsg` (8 bytes) is left as it is.
SYN_EXPORT int Syn_SelectIDCard(int port, unsigned char* manaMsg, int ifOpen);
// Reads the card into the 531-byte record and writes its photo as a BMP file
// into the temporary folder; the record names that file.
SYN_EXPORT int Syn_ReadMsg(int port, int ifOpen, unsigned char* record);
SYN_EXPORT int Syn_ClosePort(int port);

#ifdef __cplusplus
}
#endif
