// The catalogue of statements the simulated users run.

#include "ocisim/statement_catalogue.h"

namespace ocisim {

namespace {

// Bind variables where the applications use them, literals where their
// programmers wrote them in (names of places and people among them, which
// carry characters beyond ASCII). Many texts are longer than the 64 bytes of
// a v$sqltext piece.
constexpr CatalogueStatement kCatalogue[] = {
    // Order entry
    {"SALES", 3,
     "SELECT o.order_id, o.customer_id, c.name, o.order_date, o.total_amount, o.status,"
     " o.sales_rep_id FROM orders o, customers c WHERE o.customer_id = c.customer_id"
     " AND o.order_date >= TRUNC(SYSDATE) - 30 ORDER BY o.order_date DESC",
     nullptr},
    {"SALES", 3, "SELECT COUNT(*) FROM orders WHERE status = 'OPEN'", nullptr},
    {"SALES", 3,
     "SELECT c.customer_id, c.name, c.city FROM customers c WHERE c.city IN ('M\xc3\xbcnchen',"
     " 'K\xc3\xb6ln', 'Z\xc3\xbcrich', 'Malm\xc3\xb6') AND c.credit_limit > :limit ORDER BY c.name",
     nullptr},
    {"SALES", 2,
     "INSERT INTO order_items (order_id, line_no, product_id, quantity, unit_price)"
     " VALUES (:order_id, :line_no, :product_id, :quantity, :unit_price)",
     "ORDER_ITEMS"},
    {"SALES", 6, "UPDATE orders SET status = 'SHIPPED', shipped_at = SYSDATE WHERE order_id = :id", "ORDERS"},
    {"SALES", 3,
     "SELECT p.product_id, p.description, p.list_price FROM products p"
     " WHERE p.description LIKE 'Caf\xc3\xa9%' OR p.description LIKE 'Cr\xc3\xa8me%'",
     nullptr},
    {"SALES", 47, "BEGIN order_pkg.confirm_order(:order_id, :user_id); END;", "ORDERS"},
    {"SALES", 3, "SELECT name, value FROM app_settings WHERE module = :module", nullptr},
    // Human resources
    {"HR", 3,
     "SELECT e.empno, e.ename, e.job, e.mgr, e.hiredate, e.sal, e.comm, d.dname, d.loc"
     " FROM emp e, dept d WHERE e.deptno = d.deptno AND e.sal > :min_sal ORDER BY e.ename",
     nullptr},
    {"HR", 6, "UPDATE emp SET sal = sal * 1.05 WHERE deptno = :deptno AND job = 'CLERK'", "EMP"},
    {"HR", 3,
     "SELECT employee_id, last_name, first_name FROM employees WHERE last_name IN ('M\xc3\xbcller',"
     " 'Ja\xc3\xa9n', '\xc3\x85str\xc3\xb6m', 'Nu\xc3\xb1" "ez') ORDER BY last_name",
     nullptr},
    {"HR", 2,
     "INSERT INTO audit_log (log_id, user_name, action, logged_at, details)"
     " VALUES (audit_seq.NEXTVAL, USER, :action, SYSDATE, :details)",
     "AUDIT_LOG"},
    {"HR", 47, "BEGIN payroll.calculate_month(:period); END;", "EMP"},
    {"HR", 3, "SELECT deptno, COUNT(*), AVG(sal) FROM emp GROUP BY deptno", nullptr},
    // Accounting
    {"ACCT", 6, "UPDATE accounts SET balance = balance - :amount, last_change = SYSDATE WHERE account_id = :id",
     "ACCOUNTS"},
    {"ACCT", 6, "UPDATE accounts SET balance = balance + :amount, last_change = SYSDATE WHERE account_id = :id",
     "ACCOUNTS"},
    {"ACCT", 2,
     "INSERT INTO ledger_entries (entry_id, account_id, amount, booked_at, text)"
     " VALUES (ledger_seq.NEXTVAL, :account_id, :amount, SYSDATE, '\xc3\x9c" "berweisung')",
     "LEDGER_ENTRIES"},
    {"ACCT", 3,
     "SELECT a.account_id, a.owner_name, a.balance FROM accounts a WHERE a.balance < 0"
     " AND a.currency = '\xe2\x82\xac' ORDER BY a.balance",
     nullptr},
    {"ACCT", 3, "SELECT balance FROM accounts WHERE account_id = :id FOR UPDATE", "ACCOUNTS"},
    {"ACCT", 47,
     "DECLARE v_total NUMBER; BEGIN v_total := ledger_pkg.day_total(TRUNC(SYSDATE));"
     " ledger_pkg.post(v_total); END;",
     "LEDGER_ENTRIES"},
    // Reports
    {"REPORTS", 3,
     "SELECT TO_CHAR(o.order_date, 'YYYY-MM') month, r.region_name, SUM(o.total_amount) revenue,"
     " COUNT(DISTINCT o.customer_id) customers FROM orders o, customers c, regions r"
     " WHERE o.customer_id = c.customer_id AND c.region_id = r.region_id"
     " AND o.order_date >= ADD_MONTHS(TRUNC(SYSDATE, 'MM'), -12)"
     " GROUP BY TO_CHAR(o.order_date, 'YYYY-MM'), r.region_name ORDER BY 1, 2",
     nullptr},
    {"REPORTS", 3,
     "SELECT r.region_name \"R\xc3\xa9gion\", COUNT(*) FROM customers c, regions r"
     " WHERE c.region_id = r.region_id GROUP BY r.region_name",
     nullptr},
    {"REPORTS", 3,
     "SELECT p.product_id, p.description, SUM(i.quantity) sold FROM products p, order_items i"
     " WHERE p.product_id = i.product_id GROUP BY p.product_id, p.description ORDER BY sold DESC",
     nullptr},
    // Batch jobs
    {"BATCH", 7, "DELETE FROM session_cache WHERE expires_at < SYSDATE", "SESSION_CACHE"},
    {"BATCH", 47, "BEGIN dbms_stats.gather_table_stats('SALES', 'ORDERS'); END;", nullptr},
    {"BATCH", 7, "DELETE FROM audit_log WHERE logged_at < ADD_MONTHS(SYSDATE, -6)", "AUDIT_LOG"},
    {"BATCH", 2,
     "INSERT INTO order_history SELECT * FROM orders WHERE status = 'CLOSED'"
     " AND order_date < TRUNC(SYSDATE) - 90",
     "ORDER_HISTORY"},
    {"BATCH", 47, "BEGIN archive_pkg.run(p_days => 90, p_commit_every => 1000); END;", "ORDER_HISTORY"},
    // What any tool or user runs now and then
    {"ANY", 3, "SELECT SYSDATE FROM DUAL", nullptr},
    {"ANY", 3, "SELECT USER FROM DUAL", nullptr},
    {"ANY", 3, "SELECT value FROM nls_session_parameters WHERE parameter = 'NLS_DATE_FORMAT'", nullptr},
    {"ANY", 47, "BEGIN DBMS_APPLICATION_INFO.SET_MODULE(:module, :action); END;", nullptr},
    {"ANY", 3,
     "SELECT object_name, object_type, status FROM user_objects WHERE status = 'INVALID'"
     " ORDER BY object_type, object_name",
     nullptr},
};

}  // namespace

std::span<const CatalogueStatement> statementCatalogue() { return kCatalogue; }

}  // namespace ocisim
