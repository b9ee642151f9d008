// TEMPORARY: replaced by the stand-in service
