#pragma once
// Storage protocol names that some Windows SDK headers lack (mingw-w64 10
// among them). Defined here only when the headers do not define them, so a
// Windows SDK that has them wins.
#include <windows.h>
#include <winioctl.h>

// Headers that declare STORAGE_PROTOCOL_COMMAND declare its version macro
// with it; without the macro the structure is missing too.
#ifndef STORAGE_PROTOCOL_STRUCTURE_VERSION
#define QUELLIX_LOCAL_STORAGE_PROTOCOL_COMMAND
#define STORAGE_PROTOCOL_STRUCTURE_VERSION 0x1
#endif
#ifndef STORAGE_PROTOCOL_COMMAND_FLAG_ADAPTER_REQUEST
#define STORAGE_PROTOCOL_COMMAND_FLAG_ADAPTER_REQUEST 0x80000000
#endif
#ifndef STORAGE_PROTOCOL_COMMAND_LENGTH_NVME
#define STORAGE_PROTOCOL_COMMAND_LENGTH_NVME 0x40
#endif
#ifndef STORAGE_PROTOCOL_SPECIFIC_NVME_ADMIN_COMMAND
#define STORAGE_PROTOCOL_SPECIFIC_NVME_ADMIN_COMMAND 0x01
#endif
#ifndef STORAGE_PROTOCOL_STATUS_SUCCESS
#define STORAGE_PROTOCOL_STATUS_SUCCESS 0x1
#endif

#ifdef QUELLIX_LOCAL_STORAGE_PROTOCOL_COMMAND
// mingw-w64 10 declares the IOCTL but not the structure it carries.
typedef struct _STORAGE_PROTOCOL_COMMAND {
    DWORD Version;
    DWORD Length;
    STORAGE_PROTOCOL_TYPE ProtocolType;
    DWORD Flags;
    DWORD ReturnStatus;
    DWORD ErrorCode;
    DWORD CommandLength;
    DWORD ErrorInfoLength;
    DWORD DataToDeviceTransferLength;
    DWORD DataFromDeviceTransferLength;
    DWORD TimeOutValue;
    DWORD ErrorInfoOffset;
    DWORD DataToDeviceBufferOffset;
    DWORD DataFromDeviceBufferOffset;
    DWORD CommandSpecific;
    DWORD Reserved0;
    DWORD FixedProtocolReturnData;
    DWORD Reserved1[3];
    BYTE Command[ANYSIZE_ARRAY];
} STORAGE_PROTOCOL_COMMAND, *PSTORAGE_PROTOCOL_COMMAND;
#endif
