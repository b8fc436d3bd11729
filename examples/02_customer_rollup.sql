/*
    Customer rollup: builds the monthly customer value table used by the retention team.

    Steps
      1. Stage the last 24 months of completed orders in a temp table.
      2. Derive per-customer monthly totals with a CTE and a running total.
      3. Assign value tiers and backfill months without orders, one month at a time.
      4. Replace the rows of the reporting table for the refreshed months.
*/
SET NOCOUNT ON;

DECLARE @as_of_date    DATE = EOMONTH(GETDATE(), -1);
DECLARE @window_start  DATE = DATEADD(MONTH, -23, DATEFROMPARTS(YEAR(@as_of_date), MONTH(@as_of_date), 1));
DECLARE @month_cursor  DATE;
DECLARE @rows_written  INT = 0;

-- -------------------------------------------------------------------------
-- 1. Stage completed orders
-- -------------------------------------------------------------------------
IF OBJECT_ID('tempdb..#order_stage') IS NOT NULL
    DROP TABLE #order_stage;

CREATE TABLE #order_stage (
    customer_id     INT            NOT NULL,
    order_id        BIGINT         NOT NULL,
    order_month     DATE           NOT NULL,
    net_amount      DECIMAL(18, 2) NOT NULL,
    item_count      INT            NOT NULL,
    returned_amount DECIMAL(18, 2) NULL
);

INSERT INTO #order_stage (customer_id, order_id, order_month, net_amount, item_count, returned_amount)
SELECT
    o.customer_id,
    o.order_id,
    DATEFROMPARTS(YEAR(o.order_date), MONTH(o.order_date), 1) AS order_month,
    o.net_amount,
    o.item_count,
    rt.returned_amount
FROM sales.orders AS o
LEFT JOIN (
    SELECT order_id, SUM(refund_amount) AS returned_amount
    FROM sales.order_returns
    GROUP BY order_id
) AS rt
    ON rt.order_id = o.order_id
WHERE o.order_status = 'COMPLETE'
  AND o.order_date >= @window_start
  AND o.order_date <  DATEADD(DAY, 1, @as_of_date);

CREATE INDEX ix_order_stage_customer ON #order_stage (customer_id, order_month);

-- -------------------------------------------------------------------------
-- 2. Monthly totals per customer, with a running lifetime value
-- -------------------------------------------------------------------------
IF OBJECT_ID('tempdb..#customer_month') IS NOT NULL
    DROP TABLE #customer_month;

WITH monthly (customer_id, order_month, orders, gross_value, returns_value) AS (
    SELECT
        customer_id,
        order_month,
        COUNT(DISTINCT order_id),
        SUM(net_amount),
        SUM(COALESCE(returned_amount, 0))
    FROM #order_stage
    GROUP BY customer_id, order_month
),
net_monthly AS (
    SELECT
        customer_id,
        order_month,
        orders,
        gross_value - returns_value AS net_value
    FROM monthly
)
SELECT
    nm.customer_id,
    nm.order_month,
    nm.orders,
    nm.net_value,
    SUM(nm.net_value) OVER (
        PARTITION BY nm.customer_id
        ORDER BY nm.order_month
        ROWS BETWEEN UNBOUNDED PRECEDING AND CURRENT ROW
    ) AS lifetime_value,
    CAST(NULL AS VARCHAR(10)) AS value_tier
INTO #customer_month
FROM net_monthly AS nm;

-- -------------------------------------------------------------------------
-- 3. Value tiers
-- -------------------------------------------------------------------------
UPDATE cm
SET value_tier =
    CASE
        WHEN cm.lifetime_value >= 10000 THEN 'PLATINUM'
        WHEN cm.lifetime_value >= 2500  THEN 'GOLD'
        WHEN cm.lifetime_value >= 500   THEN 'SILVER'
        WHEN cm.lifetime_value > 0      THEN 'BRONZE'
        ELSE 'NONE'
    END
FROM #customer_month AS cm;

-- Customers keep their tier in months without orders: walk the window month by month and
-- carry the previous month's row forward where a customer has no row of their own.
SET @month_cursor = DATEADD(MONTH, 1, @window_start);

WHILE @month_cursor <= @as_of_date
BEGIN
    INSERT INTO #customer_month (customer_id, order_month, orders, net_value, lifetime_value, value_tier)
    SELECT
        prev.customer_id,
        @month_cursor,
        0,
        0,
        prev.lifetime_value,
        prev.value_tier
    FROM #customer_month AS prev
    WHERE prev.order_month = DATEADD(MONTH, -1, @month_cursor)
      AND NOT EXISTS (
            SELECT 1
            FROM #customer_month AS cur
            WHERE cur.customer_id = prev.customer_id
              AND cur.order_month = @month_cursor
      );

    SET @rows_written = @rows_written + @@ROWCOUNT;
    SET @month_cursor = DATEADD(MONTH, 1, @month_cursor);
END;

-- -------------------------------------------------------------------------
-- 4. Publish
-- -------------------------------------------------------------------------
IF EXISTS (
    SELECT 1
    FROM reporting.customer_monthly_value
    WHERE order_month >= @window_start
)
BEGIN
    DELETE FROM reporting.customer_monthly_value
    WHERE order_month >= @window_start;
END;

INSERT INTO reporting.customer_monthly_value
    (customer_id, order_month, orders, net_value, lifetime_value, value_tier, refreshed_at)
SELECT
    cm.customer_id,
    cm.order_month,
    cm.orders,
    cm.net_value,
    cm.lifetime_value,
    cm.value_tier,
    SYSUTCDATETIME()
FROM #customer_month AS cm
INNER JOIN dim.customer AS c
    ON c.customer_id = cm.customer_id
WHERE c.is_test_account = 0;

SELECT
    @window_start  AS window_start,
    @as_of_date    AS as_of_date,
    @rows_written  AS carried_forward_rows,
    (SELECT COUNT(*) FROM #customer_month) AS total_rows;

DROP TABLE #customer_month;
DROP TABLE #order_stage;
