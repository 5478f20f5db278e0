// The demo job on a machine: open the link on COM1, then run the job.
// On Linux, COM1 is the device named by MILLRUN_COM1 (else /dev/ttyS0).
open comm COM1
include demo.nc
