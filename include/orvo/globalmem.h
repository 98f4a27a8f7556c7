/*
 * Movable global memory, under the names host code written for the original
 * platform already uses (HGLOBAL, GlobalAlloc, GlobalLock, ...).
 *
 * A handle names a block; the block is reached only between GlobalLock and
 * GlobalUnlock.  Handles are opaque: a movable handle is never a valid pointer
 * and is never reused after GlobalFree, so a stale, freed or foreign handle is
 * recognised and refused (NULL / 0 / failure), never dereferenced.
 *
 * Every function is safe to call from several threads at once.
 */
#ifndef ORVO_GLOBALMEM_H
#define ORVO_GLOBALMEM_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define ORVO_EXPORT __attribute__((visibility("default")))
#else
#define ORVO_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef void *HGLOBAL;
typedef unsigned int UINT;
typedef size_t SIZE_T;
typedef int BOOL;
typedef void *LPVOID;

#define GMEM_FIXED 0x0000u
#define GMEM_MOVEABLE 0x0002u
#define GMEM_ZEROINIT 0x0040u
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)
#define GMEM_INVALID_HANDLE 0x8000u
#define GMEM_LOCKCOUNT 0x00FFu

/* Allocates a block of `bytes` bytes (a zero-byte movable block is allowed
 * and locks to NULL).  GMEM_FIXED blocks: the handle is the block's address.
 * Returns NULL when the memory is not available or the flags are unknown. */
ORVO_EXPORT HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);

/* Increments the lock count and returns the block's address; NULL for an
 * invalid handle or a zero-byte block.  The address stays valid until the
 * matching GlobalUnlock (blocks are never moved while locked). */
ORVO_EXPORT LPVOID GlobalLock(HGLOBAL handle);

/* Decrements the lock count.  Returns non-zero while the block stays locked,
 * 0 when the count reached zero or the handle was not locked / not valid. */
ORVO_EXPORT BOOL GlobalUnlock(HGLOBAL handle);

/* Frees the block whatever its lock count.  Returns NULL on success and the
 * handle itself when it is not a valid handle. */
ORVO_EXPORT HGLOBAL GlobalFree(HGLOBAL handle);

/* Size of the block in bytes as allocated; 0 for an invalid handle. */
ORVO_EXPORT SIZE_T GlobalSize(HGLOBAL handle);

/* Lock count in the low byte, GMEM_INVALID_HANDLE for an invalid handle. */
ORVO_EXPORT UINT GlobalFlags(HGLOBAL handle);

/* Resizes an unlocked movable block (or a fixed one), keeping its contents;
 * with GMEM_ZEROINIT new bytes are zero.  Returns the handle, or NULL when the
 * handle is invalid, locked or the memory is not available (the old block is
 * then unchanged). */
ORVO_EXPORT HGLOBAL GlobalReAlloc(HGLOBAL handle, SIZE_T bytes, UINT flags);

#ifdef __cplusplus
}
#endif

#endif
