// Kernel half of the high-fidelity event source: raw tracepoints on block requests, socket
// sends and receives, and process starts, each writing a small event into one ring buffer.
// Raw tracepoints attach without tracefs; CO-RE reads keep the program valid across kernels.
#include "vmlinux.h"

#include <bpf/bpf_core_read.h>
#include <bpf/bpf_endian.h>
#include <bpf/bpf_helpers.h>
#include <bpf/bpf_tracing.h>

#include "BpfEvents.h"

// The kernel lends its probe-read helpers only to programs under a GPL-compatible licence.
char LICENSE[] SEC("license") = "Dual BSD/GPL";

#define KTHREAD_FLAG 0x00200000 /* PF_KTHREAD */
#define SYSTEM_PID 2
#define NO_PID 0xFFFFFFFFu
#define REQ_OP_MASK 0xff
#define MSG_PEEK_FLAG 2
#define AF_INET_FAMILY 2
#define AF_INET6_FAMILY 10
#define TCP_PROTO 6
#define UDP_PROTO 17
#define ETH_P_IP_PROTO 0x0800

struct {
  __uint(type, BPF_MAP_TYPE_RINGBUF);
  __uint(max_entries, 4 * 1024 * 1024);  // 600 000 events a second between two drains
} events SEC(".maps");

// Events lost because the ring buffer was full. A global, so that the reader sees it through
// memory it mapped while it still had the right to, without a system call.
__u64 dropped_events = 0;

// What block_io_start and block_rq_issue learnt about a request, until it completes. Completions
// run in any context, so the submitter must be remembered here.
struct request_info {
  __u32 pid;
  __u32 uid;
  __u64 issued_ns;
};

struct {
  __uint(type, BPF_MAP_TYPE_LRU_HASH);
  __uint(max_entries, 16384);
  __type(key, __u64);
  __type(value, struct request_info);
} requests SEC(".maps");

// A file is its device, inode number and the inode's generation: a new file that reuses a deleted
// file's inode number is another file, and gets its own name.
struct file_key {
  __u32 dev;
  __u32 gen;
  __u64 ino;
};

// Files whose name was already sent: a name goes out only before the first I/O of a file.
struct {
  __uint(type, BPF_MAP_TYPE_LRU_HASH);
  __uint(max_entries, 65536);
  __type(key, struct file_key);
  __type(value, __u8);
} named SEC(".maps");

static __always_inline void* reserve(__u64 size) {
  void* event = bpf_ringbuf_reserve(&events, size, 0);
  if (!event) __sync_fetch_and_add(&dropped_events, 1);
  return event;
}

// The consumer drains the ring on its own clock; a wake-up per event would cost far more.
static __always_inline void submit(void* event) {
  bpf_ringbuf_submit(event, BPF_RB_NO_WAKEUP);
}

// The task comes typed from the kernel, so its flags are a plain load, not a helper call.
static __always_inline __u32 current_tgid(void) {
  struct task_struct* task = bpf_get_current_task_btf();
  if (task->flags & KTHREAD_FLAG) return SYSTEM_PID;
  return (__u32)(bpf_get_current_pid_tgid() >> 32);
}

// The real uid (the low half of the helper's answer), which a set-user-id program keeps.
static __always_inline __u32 current_uid(void) {
  return (__u32)bpf_get_current_uid_gid();
}

SEC("raw_tp/block_io_start")
int BPF_PROG(io_start, struct request* rq) {
  __u64 key = (__u64)rq;
  struct request_info info = {.pid = current_tgid(), .uid = current_uid()};
  bpf_map_update_elem(&requests, &key, &info, BPF_ANY);
  return 0;
}

SEC("raw_tp/block_rq_issue")
int BPF_PROG(rq_issue, struct request* rq) {
  __u64 key = (__u64)rq;
  struct request_info* info = bpf_map_lookup_elem(&requests, &key);
  if (info) {
    info->issued_ns = bpf_ktime_get_ns();
  } else {
    struct request_info fresh = {.pid = NO_PID, .issued_ns = bpf_ktime_get_ns()};
    bpf_map_update_elem(&requests, &key, &fresh, BPF_ANY);
  }
  return 0;
}

// Walks from the file's dentry up to the root of its file system, one name per step.
static __always_inline void send_name(struct inode* inode, struct file_key* key, __u32 pid,
                                      __u32 uid) {
  struct ombrix_name_event* e = reserve(sizeof(*e));
  if (!e) {
    bpf_map_delete_elem(&named, key);  // try again at the next I/O
    return;
  }
  e->kind = OMBRIX_EV_NAME;
  e->pid = pid;
  e->uid = uid;
  e->file_dev = key->dev;
  e->ino = key->ino;
  e->gen = key->gen;
  e->complete = 0;
  e->depth = 0;
  struct hlist_node* alias = BPF_CORE_READ(inode, i_dentry.first);
  struct dentry* d =
      alias ? (struct dentry*)((char*)alias - bpf_core_field_offset(struct dentry, d_u.d_alias))
            : 0;
  for (int i = 0; i < OMBRIX_NAME_DEPTH && d; i++) {
    struct dentry* parent = BPF_CORE_READ(d, d_parent);
    if (parent == d) {
      e->complete = 1;
      d = 0;
      break;
    }
    bpf_probe_read_kernel_str(e->parts[i], OMBRIX_NAME_PART, BPF_CORE_READ(d, d_name.name));
    e->depth = i + 1;
    d = parent;
  }
  if (d && BPF_CORE_READ(d, d_parent) == d) e->complete = 1;
  submit(e);
}

// The file a bio's first page belongs to; nothing for metadata, swap and direct I/O, whose pages
// are anonymous or belong to the block device itself. A bio carries the pages of one file.
static __always_inline struct inode* file_of(struct bio* bio) {
  struct page* page = BPF_CORE_READ(bio, bi_io_vec, bv_page);
  if (!page) return 0;
  struct address_space* mapping = BPF_CORE_READ(page, mapping);
  if (!mapping || ((unsigned long)mapping & 1)) return 0;
  struct inode* host = BPF_CORE_READ(mapping, host);
  if (!host || !BPF_CORE_READ(host, i_sb, s_bdev)) return 0;
  return host;
}

// Sends one run of a completed request's bytes that belongs to one file (or to none), with the
// file's name before its first run. A function of its own: the verifier checks it once, not
// once for every bio of the loop that calls it.
__noinline int send_run(struct ombrix_disk_event* run, __u64 file) {
  if (!run || run->bytes == 0) return 0;
  struct inode* inode = (struct inode*)file;
  run->has_file = inode != 0;
  if (inode) {
    struct file_key fk = {.dev = BPF_CORE_READ(inode, i_sb, s_dev),
                          .gen = BPF_CORE_READ(inode, i_generation),
                          .ino = BPF_CORE_READ(inode, i_ino)};
    run->file_dev = fk.dev;
    run->ino = fk.ino;
    run->gen = fk.gen;
    __u8 one = 1;
    if (!bpf_map_lookup_elem(&named, &fk)) {
      bpf_map_update_elem(&named, &fk, &one, BPF_ANY);
      send_name(inode, &fk, run->pid, run->uid);
    }
  }
  struct ombrix_disk_event* e = reserve(sizeof(*e));
  if (!e) return 0;
  *e = *run;
  submit(e);
  return 0;
}

#define RUN_BIOS \
  256 /* bios looked at per completion (more than a request holds); the rest to no file */

// Where the walk over a completed request's bios stands.
struct bio_walk {
  struct ombrix_disk_event run;  // the run being gathered
  struct bio* bio;               // the next bio
  __u64 file;                    // the run's file, 0 for none
  __u32 left;                    // bytes of the completion not yet in a run
};

// One bio: it joins the run when it belongs to the run's file, else the run goes out and the
// bio starts the next. A callback, so that the verifier checks it once for any number of bios.
static long walk_bio(__u64 index, struct bio_walk* walk) {
  struct bio* bio = walk->bio;
  if (!bio || !walk->left) return 1;
  __u32 size = BPF_CORE_READ(bio, bi_iter.bi_size);
  if (size == 0) return 1;
  if (size > walk->left) size = walk->left;
  const __u64 file = (__u64)file_of(bio);
  if (file != walk->file) {
    send_run(&walk->run, walk->file);
    walk->run.offset += walk->run.bytes;
    walk->run.bytes = 0;
    walk->file = file;
  }
  walk->run.bytes += size;
  walk->left -= size;
  walk->bio = BPF_CORE_READ(bio, bi_next);
  return 0;
}

// A request may hold the bios of several files, merged because their sectors follow each other
// (after a sync, typically): each file is charged its own bios, in runs of consecutive bios of
// one file.
SEC("raw_tp/block_rq_complete")
int BPF_PROG(rq_complete, struct request* rq, int error, unsigned int nr_bytes) {
  __u32 op = BPF_CORE_READ(rq, cmd_flags) & REQ_OP_MASK;
  if (nr_bytes == 0 || op > 1) return 0;  // reads and writes only; flushes carry no data
  __u64 key = (__u64)rq;
  struct bio_walk walk = {.run = {.kind = OMBRIX_EV_DISK, .pid = NO_PID, .write = op},
                          .bio = BPF_CORE_READ(rq, bio),
                          .left = nr_bytes};
  __u64 issued = 0;
  struct request_info* info = bpf_map_lookup_elem(&requests, &key);
  if (info) {
    walk.run.pid = info->pid;
    walk.run.uid = info->uid;
    issued = info->issued_ns;
  }
  // A partial completion leaves the rest of the request to come.
  if (nr_bytes >= BPF_CORE_READ(rq, __data_len)) bpf_map_delete_elem(&requests, &key);
  struct gendisk* gd = BPF_CORE_READ(rq, q, disk);
  if (gd)
    walk.run.disk_dev = ((__u32)BPF_CORE_READ(gd, major) << 20) | BPF_CORE_READ(gd, first_minor);
  if (issued) walk.run.response_us = (__u32)((bpf_ktime_get_ns() - issued) / 1000);
  walk.run.offset = BPF_CORE_READ(rq, __sector) * 512;
  bpf_loop(RUN_BIOS, walk_bio, &walk, 0);
  send_run(&walk.run, walk.file);
  walk.run.offset += walk.run.bytes;
  walk.run.bytes = walk.left;
  send_run(&walk.run, 0);
  return 0;
}

static __always_inline int is_v4_mapped(const __u32* a) {
  return a[0] == 0 && a[1] == 0 && a[2] == bpf_htonl(0xffff);
}

// Raw tracepoints hand over untyped pointers; cast to the kernel's own type, the socket's fields
// are plain loads instead of one probe-read call each (these run on every send and receive).
extern void* bpf_rdonly_cast(const void* obj, __u32 btf_id) __ksym;

// The remote end of the datagram a thread is sending or receiving, as its headers name it: an
// unconnected socket has no remote end of its own. Taken from the packet as it leaves (the
// device queue runs in the sender's thread) or as the reader lets go of it, and used by the
// socket call that follows in the same thread, when the local ports agree.
struct datagram_end {
  __u32 remote;
  __u32 local;
  __u16 remote_port;
  __u16 local_port;
};

struct {
  __uint(type, BPF_MAP_TYPE_LRU_HASH);
  __uint(max_entries, 4096);
  __type(key, __u32);
  __type(value, struct datagram_end);
} datagram_ends SEC(".maps");

// An IPv4 UDP packet's ends; the local end is the source when it leaves, the destination when it
// arrives. False for anything else, and for fragments after the first, which have no UDP header.
static __always_inline int udp_ends(const struct sk_buff* skb, int leaving,
                                    struct datagram_end* end) {
  if (BPF_CORE_READ(skb, protocol) != bpf_htons(ETH_P_IP_PROTO)) return 0;
  unsigned char* head = BPF_CORE_READ(skb, head);
  struct iphdr ip = {};
  if (bpf_probe_read_kernel(&ip, sizeof ip, head + BPF_CORE_READ(skb, network_header))) return 0;
  if (ip.protocol != UDP_PROTO || (ip.frag_off & bpf_htons(0x1FFF))) return 0;
  struct udphdr udp = {};
  if (bpf_probe_read_kernel(&udp, sizeof udp, head + BPF_CORE_READ(skb, transport_header)))
    return 0;
  end->remote = leaving ? ip.daddr : ip.saddr;
  end->local = leaving ? ip.saddr : ip.daddr;
  end->remote_port = leaving ? udp.dest : udp.source;
  end->local_port = leaving ? udp.source : udp.dest;
  return 1;
}

static __always_inline void note_datagram(const struct sk_buff* skb, int leaving) {
  struct datagram_end end;
  if (!udp_ends(skb, leaving, &end)) return;
  __u32 tid = (__u32)bpf_get_current_pid_tgid();
  bpf_map_update_elem(&datagram_ends, &tid, &end, BPF_ANY);
}

// Every packet that leaves passes here: a TCP segment must cost no more than two plain loads, so
// the socket's protocol is asked before any header is read.
SEC("raw_tp/net_dev_queue")
int BPF_PROG(udp_leaving, struct sk_buff* raw) {
  struct sk_buff* skb = bpf_rdonly_cast(raw, bpf_core_type_id_kernel(struct sk_buff));
  struct sock* owner = skb->sk;  // a local socket's, else none
  if (!owner) return 0;
  struct sock* sk = bpf_rdonly_cast(owner, bpf_core_type_id_kernel(struct sock));
  if (sk->sk_protocol == UDP_PROTO) note_datagram(raw, 1);
  return 0;
}

// A datagram the reader took, as the socket lets go of it before the call returns. No tracepoint
// sees that moment on every kernel (the copy is not traced for small datagrams, nor the freeing
// where it is deferred), so this hooks the function itself, where the kernel lets it.
SEC("fentry/skb_consume_udp")
int BPF_PROG(udp_arriving, struct sock* sk, struct sk_buff* skb, int len) {
  if (len > 0) note_datagram(skb, 0);  // not a peek
  return 0;
}

// The remote end this thread's datagram named, when it went through this socket's port.
static __always_inline int take_datagram_end(__u16 localPort, struct ombrix_net_event* net) {
  __u32 tid = (__u32)bpf_get_current_pid_tgid();
  struct datagram_end* end = bpf_map_lookup_elem(&datagram_ends, &tid);
  if (!end) return 0;
  const int ours = end->local_port == localPort;
  if (ours) {
    net->daddr = end->remote;
    net->dport = end->remote_port;
    net->saddr = end->local;
  }
  bpf_map_delete_elem(&datagram_ends, &tid);
  return ours;
}

static __always_inline int submit_net(const struct ombrix_net_event* net) {
  struct ombrix_net_event* e = reserve(sizeof(*e));
  if (!e) return 0;
  *e = *net;
  submit(e);
  return 0;
}

static __always_inline int send_net(struct sock* raw, int ret, int flags, __u8 recv) {
  if (ret <= 0 || (recv && (flags & MSG_PEEK_FLAG))) return 0;  // a peek moves no data
  struct sock* sk = bpf_rdonly_cast(raw, bpf_core_type_id_kernel(struct sock));
  __u16 proto = sk->sk_protocol;
  if (proto != TCP_PROTO && proto != UDP_PROTO) return 0;
  struct ombrix_net_event net = {.kind = OMBRIX_EV_NET,
                                 .pid = current_tgid(),
                                 .uid = current_uid(),
                                 .size = ret,
                                 .udp = proto == UDP_PROTO,
                                 .recv = recv};
  net.sport = bpf_htons(sk->__sk_common.skc_num);
  // A datagram's own ends first: its headers are IPv4 whatever the socket's family.
  if (proto == UDP_PROTO && take_datagram_end(net.sport, &net)) return submit_net(&net);
  __u16 family = sk->__sk_common.skc_family;
  if (family == AF_INET_FAMILY) {
    net.daddr = sk->__sk_common.skc_daddr;
    net.saddr = sk->__sk_common.skc_rcv_saddr;
  } else if (family == AF_INET6_FAMILY) {
    const __u32* dst = sk->__sk_common.skc_v6_daddr.in6_u.u6_addr32;
    const __u32* src = sk->__sk_common.skc_v6_rcv_saddr.in6_u.u6_addr32;
    const int unconnected = !(dst[0] | dst[1] | dst[2] | dst[3]);
    if (!is_v4_mapped(src) || !(is_v4_mapped(dst) || unconnected)) return 0;
    net.daddr = dst[3];
    net.saddr = src[3];
  } else {
    return 0;
  }
  net.dport = sk->__sk_common.skc_dport;
  return submit_net(&net);
}

SEC("raw_tp/sock_send_length")
int BPF_PROG(sock_send, struct sock* sk, int ret, int flags) {
  return send_net(sk, ret, flags, 0);
}

SEC("raw_tp/sock_recv_length")
int BPF_PROG(sock_recv, struct sock* sk, int ret, int flags) {
  return send_net(sk, ret, flags, 1);
}

static __always_inline void send_proc(struct task_struct* task, __u32 ppid, __u32 exec,
                                      const char* image) {
  struct ombrix_proc_event* e = reserve(sizeof(*e));
  if (!e) return;
  e->kind = OMBRIX_EV_PROC;
  e->pid = BPF_CORE_READ(task, tgid);
  e->ppid = ppid;
  e->uid = current_uid();
  e->exec = exec;
  bpf_probe_read_kernel_str(e->comm, sizeof(e->comm), &task->comm);
  e->image[0] = 0;
  if (image) bpf_probe_read_kernel_str(e->image, sizeof(e->image), image);
  submit(e);
}

// The interpreter path rather than the script: it is what the process's executable link shows,
// so the name agrees with the one the process list gives.
SEC("raw_tp/sched_process_exec")
int BPF_PROG(proc_exec, struct task_struct* p, int old_pid, struct linux_binprm* bprm) {
  send_proc(p, BPF_CORE_READ(p, real_parent, tgid), 1, BPF_CORE_READ(bprm, interp));
  return 0;
}

// New thread groups only; kernel threads are all the System process. The child runs its
// parent's program: the base name of that executable completes a comm cut to 15 bytes, read
// here because the reader may not look at another user's /proc/PID/exe.
SEC("raw_tp/sched_process_fork")
int BPF_PROG(proc_fork, struct task_struct* parent, struct task_struct* child) {
  if (BPF_CORE_READ(child, pid) != BPF_CORE_READ(child, tgid)) return 0;
  if (BPF_CORE_READ(parent, flags) & KTHREAD_FLAG) return 0;
  const unsigned char* image = BPF_CORE_READ(child, mm, exe_file, f_path.dentry, d_name.name);
  send_proc(child, BPF_CORE_READ(parent, tgid), 0, (const char*)image);
  return 0;
}

// --- the task table ---------------------------------------------------------------------------

#define ZOMBIE_STATE 0x20 /* EXIT_ZOMBIE */

static __always_inline void fill_io(struct ombrix_io* io, struct task_io_accounting* ac) {
  io->rchar = ac->rchar;
  io->wchar = ac->wchar;
  io->syscr = ac->syscr;
  io->syscw = ac->syscw;
}

static __always_inline void fill_thread(struct task_struct* task, struct ombrix_thread_record* t) {
  t->tid = task->pid;
  t->tgid = task->tgid;
  t->runtime_ns = task->se.sum_exec_runtime;
  t->switches = task->sched_info.pcount;
  fill_io(&t->io, &task->ioac);
}

// A resident page counter: its running total, as the kernel keeps it for cheap reading. Each
// processor holds back a small batch of pages before adding it in, so the total may lag the exact
// sum by that much a processor; the exact sum needs the per-processor copies, which a program can
// find only where the kernel lists its data symbols.
static __always_inline __u64 pages(struct mm_struct* mm, int kind) {
  const long count = mm->rss_stat[kind].count;
  return count > 0 ? (__u64)count : 0;
}

// The iterator's task comes typed from the kernel: its fields, and those of the structures it
// points to, are plain loads rather than a probe-read call each.
static __always_inline void fill_group(struct task_struct* task, struct ombrix_leader_record* g) {
  g->ppid = task->real_parent->tgid;
  g->uid = task->real_cred->uid.val;
  g->flags = task->flags;
  g->zombie = (task->exit_state & ZOMBIE_STATE) != 0;
  g->start_ns = task->start_boottime;
  struct signal_struct* sig = task->signal;
  g->threads = sig->nr_threads;
  g->dead_runtime_ns = sig->sum_sched_runtime;
  fill_io(&g->dead_io, &sig->ioac);
  bpf_probe_read_kernel_str(g->comm, sizeof g->comm, task->comm);
  struct mm_struct* mm = task->mm;
  if (!mm) return;
  // The kernel's counter numbers are an unnamed enumeration, so CO-RE cannot relocate them;
  // they have not moved in years.
  g->rss_file = pages(mm, MM_FILEPAGES);
  g->rss_anon = pages(mm, MM_ANONPAGES);
  g->rss_shmem = pages(mm, MM_SHMEMPAGES);
  if (g->comm[OMBRIX_COMM_LEN - 2] != 0) {  // cut at 15 bytes, perhaps
    struct file* exe = mm->exe_file;
    if (exe) bpf_probe_read_kernel_str(g->exe, sizeof g->exe, exe->f_path.dentry->d_name.name);
  }
}

// Every task once, in one read of the iterator: what the process list would otherwise read from
// four or five files of each process and thread.
SEC("iter/task")
int task_table(struct bpf_iter__task* ctx) {
  struct task_struct* task = ctx->task;
  if (!task) return 0;
  struct ombrix_leader_record r = {};
  fill_thread(task, &r.thread);
  if (task->pid != task->tgid) {
    r.thread.kind = OMBRIX_TASK_THREAD;
    bpf_seq_write(ctx->meta->seq, &r.thread, sizeof r.thread);
    return 0;
  }
  r.thread.kind = OMBRIX_TASK_LEADER;
  fill_group(task, &r);
  bpf_seq_write(ctx->meta->seq, &r, sizeof r);
  return 0;
}
