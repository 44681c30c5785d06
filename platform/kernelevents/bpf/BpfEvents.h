/* Raw events the kernel programs write into the ring buffer; shared by the BPF program (C)
 * and the user-space decoder (C++), so only fixed-size plain fields. */
#ifndef OMBRIX_BPF_EVENTS_H
#define OMBRIX_BPF_EVENTS_H

#ifndef __VMLINUX_H__
#include <linux/types.h>
#endif

#define OMBRIX_NAME_DEPTH 16 /* path components sent per file name */
#define OMBRIX_NAME_PART 64  /* bytes per component, NUL included */
#define OMBRIX_IMAGE_LEN 256
#define OMBRIX_COMM_LEN 16

enum ombrix_event_kind {
  OMBRIX_EV_DISK = 1,
  OMBRIX_EV_NAME = 2,
  OMBRIX_EV_NET = 3,
  OMBRIX_EV_PROC = 4,
};

/* Every event carries the real uid of the process it is charged to, so that the reader can pass
 * on only what its caller may see. */

/* A run of a completed block request's bytes that belongs to one file (file_dev, ino, gen), or
 * to no file (has_file 0). */
struct ombrix_disk_event {
  __u32 kind;
  __u32 pid; /* submitting tgid; 2 for kernel threads; 0xFFFFFFFF unknown */
  __u32 uid;
  __u32 disk_dev; /* whole disk as major << 20 | minor */
  __u32 bytes;
  __u32 response_us;
  __u32 write;
  __u32 file_dev; /* superblock device, major << 20 | minor */
  __u64 offset;
  __u64 ino;
  __u32 has_file;
  __u32 gen; /* the inode's generation: tells a reused inode number from its old file */
};

/* The first sight of a file: its dentry names from the file up towards the root of its file
 * system. complete is 1 when the walk reached that root within OMBRIX_NAME_DEPTH names. */
struct ombrix_name_event {
  __u32 kind;
  __u32 pid;
  __u32 file_dev;
  __u32 depth;
  __u64 ino;
  __u32 complete;
  __u32 uid;
  __u32 gen;
  __u32 pad;
  char parts[OMBRIX_NAME_DEPTH][OMBRIX_NAME_PART];
};

/* One send or receive call that moved bytes on an IPv4 (or v4-mapped) socket. Addresses and
 * ports are in network byte order, as the socket holds them. */
struct ombrix_net_event {
  __u32 kind;
  __u32 pid;
  __u32 uid;
  __u32 size;
  __u32 daddr;
  __u32 saddr;
  __u16 dport;
  __u16 sport;
  __u8 udp;
  __u8 recv;
  __u8 pad[2];
};

/* A new thread group (fork) or a new program image in one (exec). image is the interpreter's
 * path for an exec, the base name of the executable the child runs for a fork. */
struct ombrix_proc_event {
  __u32 kind;
  __u32 pid;
  __u32 ppid;
  __u32 uid;
  __u32 exec;
  char comm[OMBRIX_COMM_LEN];
  char image[OMBRIX_IMAGE_LEN];
};

/* The task table, read in one pass by the task iterator: a record for every thread, the larger
 * one for a thread group's leader, which carries what belongs to the whole group. */
enum ombrix_task_kind {
  OMBRIX_TASK_THREAD = 1,
  OMBRIX_TASK_LEADER = 2,
};

#define OMBRIX_EXE_LEN 64

/* Input and output accounting, as the kernel keeps it for a task and for a group's ended tasks. */
struct ombrix_io {
  __u64 rchar, wchar, syscr, syscw;
};

struct ombrix_thread_record {
  __u32 kind;
  __u32 tid;
  __u32 tgid;
  __u32 pad;
  __u64 runtime_ns; /* CPU time */
  __u64 switches;   /* times it was switched to */
  struct ombrix_io io;
};

struct ombrix_leader_record {
  struct ombrix_thread_record thread; /* the leader as one of the group's threads */
  __u32 ppid;
  __u32 uid;     /* real uid */
  __u32 flags;   /* PF_* */
  __u32 zombie;  /* the group has ended and waits to be reaped */
  __u32 threads; /* live threads in the group */
  __u32 pad;
  __u64 start_ns;        /* since boot */
  __u64 dead_runtime_ns; /* the group's ended threads */
  struct ombrix_io dead_io;
  __u64 rss_file, rss_anon, rss_shmem; /* resident pages by kind */
  char comm[OMBRIX_COMM_LEN];
  char exe[OMBRIX_EXE_LEN]; /* the executable's base name, when comm may be cut */
};

#endif
