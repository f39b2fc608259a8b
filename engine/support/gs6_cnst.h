// Engine-wide constants: record numbers, motion codes, lock protocols and the
// process-wide settings every layer shares. Each is defined here once.
#pragma once

#include <cstdint>

// Record number: counted from 1; 0 means no record.
using TRecNo = int32_t;

// Motion codes of a table move. A positive value is a record number.
constexpr int32_t GotoNext = -1;
constexpr int32_t GotoPrevious = -2;
constexpr int32_t GotoFirst = -3;    // top
constexpr int32_t GotoLast = -4;     // bottom
constexpr int32_t GotoCurrent = -5;  // reread

// Lock protocols: where table, header, record, memo and index locks lie.
enum class TgsLokProtocol : int { Default = 0, DB4Lock = 1, ClipLock = 2, FoxLock = 3 };

// End-of-file mark after the last record and at a dBase III memo's end.
constexpr uint8_t kEofMark = 0x1A;

// Letters read as true / false; the first of each is the one written.
constexpr const char* kTrueLetters = "TtYyJj";
constexpr const char* kFalseLetters = "FfNn";

// Waiting for a lock: total time and pause between attempts, in ms.
constexpr uint16_t LockWaitTotal = 5000;
constexpr uint16_t LockRetryPause = 50;

// Read-ahead buffer of the table handler, in bytes.
constexpr uint16_t kReadAheadSize = 32768;
