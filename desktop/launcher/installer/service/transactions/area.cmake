# Each torture seed runs and rolls back hundreds of operations; on a loaded machine one takes minutes.
zorvi_test_limit(desktop/launcher/installer/service/transactions "Seeds/TransactionTortureTest.*" 300)
